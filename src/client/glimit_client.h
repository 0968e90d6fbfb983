// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "client/chat_relay.h"
#include "client/g_limiter.h"
#include "client/server_connection.h"

namespace zpmoni {

// The program's client connection: logs on under the name that announces the G range, damages
// aircraft beyond it and relays the server's chat.
class GLimitClient : public ServerConnection {
    Q_OBJECT
public:
    GLimitClient(const Clock& clock, ChatRelay* chat, QObject* parent = nullptr);

    void Create(ProfileStore& store) override;
    // Address in host byte order.
    Status ConnectWithLimitName(uint32_t address, uint16_t port);

    void Punish(uint32_t aircraftId, uint16_t amount);
    // Told of each damage sent, with the pilot's user name as the server announced it (bytes;
    // empty when unknown): for the operator's alerts and the pilot's session in the history.
    std::function<void(uint32_t aircraftId, std::string_view pilot, uint16_t amount)> onDamage;
    GLimiter& Limiter() { return limiter; }
    const GLimiter& Limiter() const { return limiter; }

protected:
    void OnAirState(const uint8_t* body, size_t length) override;
    void OnAddObject(const uint8_t* body, size_t length) override;
    void OnRemoveObject(const uint8_t* body, size_t length) override;
    void OnChat(const uint8_t* body, size_t length) override;

private:
    const Clock& clock;
    ChatRelay* chat;
    GLimiter limiter;
};

}  // namespace zpmoni
