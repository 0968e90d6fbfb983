// SPDX-License-Identifier: MIT
#include "client/chat_relay.h"
#include "client/client_protocol.h"
#include "client/g_limiter.h"
#include "fuzz/fuzz_target.h"

#include <algorithm>

using namespace zpmoni;

namespace {

// The monitor's client without a socket: answers go nowhere, the hooks reach the G limiter.
class Client final : public ClientProtocol {
public:
    Status Transmit(const uint8_t*, size_t size) override
    {
        return size <= 8 + OutPacket::kMaxBody ? Status{} : Failure{"too long"};
    }
    void OnAirState(const uint8_t* body, size_t length) override { limiter.OnAirState(body, length, tick += 97); }
    void OnAddObject(const uint8_t* body, size_t length) override { limiter.OnAddObject(body, length); }
    void OnRemoveObject(const uint8_t* body, size_t length) override { limiter.OnRemoveObject(body, length); }
    void OnChat(const uint8_t* body, size_t length) override { chatLength += ChatText({body, length}).size(); }
    GLimiter limiter{[this](uint32_t, uint16_t amount) { damage += amount; }};
    uint32_t tick = 0;
    size_t chatLength = 0;
    uint64_t damage = 0;
};

}  // namespace

// A hostile stream from the server. The first byte seeds the cuts into reads (now and then a
// read of 0 bytes, the peer's orderly close) and the damage interval; the rest is the stream.
FUZZ_TARGET(FuzzStream)
{
    if (size == 0)
        return 0;
    Client client;
    uint32_t seed = data[0];
    client.limiter.ApplyLimits(-3, 7);
    client.limiter.ApplyDamage(seed % 4 * 500, 1);
    for (size_t at = 1; at < size;) {
        seed = seed * 1103515245 + 12345;
        const size_t n = (seed >> 16) % 97 == 0 ? 0 : std::min<size_t>(1 + (seed >> 16) % 700, size - at);
        if (!client.OnReceive(n ? data + at : nullptr, n))
            client.ResetStream();  // the connection would be dropped; a new one starts empty
        at += n;
    }
    return 0;
}
