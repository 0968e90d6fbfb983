// SPDX-License-Identifier: MIT
#include "capture/decoder_rig.h"
#include "capture/event_log.h"
#include "fuzz/fuzz_target.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace zpmoni;

namespace {

// Events go through the event log, whose lines are dropped.
struct Sink final : DecoderEvents, LineWriter {
    void OnLogon(int64_t t, const PlayerRecord& r) override { log.LogonEntry(t, r); }
    void OnLogoff(int64_t t, const PlayerRecord& r) override { log.LogoffEntry(t, r); }
    void OnJoin(int64_t t, const PlayerRecord& r) override { log.JoinEntry(t, r); }
    void OnCapturedChat(std::string_view text) override { WriteLine(text); }
    void WriteLine(std::string_view) override {}
    ManualClock clock;
    EventLog log{*this, clock};
};

}  // namespace

// A sequence of datagrams, each a control byte, a u16 length and the datagram. Control bits:
// 0 checksum testing, 1-2 the interface's verdict, 3 made to run to the server (198.51.100.1:7915),
// 4 from it, 5-7 seconds the clock moves on (so that idle sweeps run).
FUZZ_TARGET(FuzzDecoder)
{
    static const uint8_t server[4] = {198, 51, 100, 1};
    DecoderRig rig({0x016433C6});
    Sink sink;
    rig.decoder.SetEvents(&sink);
    for (size_t at = 0; at + 3 <= size;) {
        const uint8_t control = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        std::vector<uint8_t> d(data + at + 3, data + at + 3 + length);  // exactly as long, for ASan
        at += 3 + length;
        const size_t h = d.empty() ? 0 : (d[0] & 0x0F) * 4u;
        for (size_t side = 0; side < 2; ++side) {
            if ((control & (8 << side)) && d.size() >= 20 && h + 4 <= d.size()) {
                std::memcpy(&d[16 - 4 * side], server, 4);
                d[h + 2 - 2 * side] = 7915 >> 8;
                d[h + 3 - 2 * side] = 7915 & 0xFF;
            }
        }
        rig.decoder.SetChecksum(control & 1);
        rig.clock.seconds += control >> 5;
        rig.decoder.HandleDatagram(d.data(), d.size(), static_cast<ChecksumStatus>((control >> 1 & 3) % 3));
    }
    return 0;
}
