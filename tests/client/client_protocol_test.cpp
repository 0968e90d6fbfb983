// SPDX-License-Identifier: MIT
#include "client/client_protocol.h"
#include "client/connection_failures.h"
#include "client/server_connection_hang.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zpmoni;

using testing_datagrams::Bytes;
using testing_datagrams::Concat;
using testing_datagrams::Frame;

namespace {

// Records what the protocol sends and which hooks it calls (name, body length, last byte).
struct Probe final : ClientProtocol {
    Status Transmit(const uint8_t* data, size_t size) override
    {
        sent.emplace_back(data, data + size);
        return {};
    }
    void OnAirState(const uint8_t* b, size_t n) override { Hook("air", b, n); }
    void OnAddObject(const uint8_t* b, size_t n) override { Hook("add", b, n); }
    void OnRemoveObject(const uint8_t* b, size_t n) override { Hook("remove", b, n); }
    void OnChat(const uint8_t* b, size_t n) override { Hook("chat", b, n); }
    void Hook(const char* name, const uint8_t* b, size_t n)
    {
        hooks.push_back(std::string(name) + ":" + std::to_string(n) + (n ? ":" + std::to_string(b[n - 1]) : ""));
    }
    std::vector<Bytes> sent;
    std::vector<std::string> hooks;
};

// The answers to the handshake, to acknowledgement requests and to echo requests are checked by
// the stand-in simulator in the loopback tests.
TEST(ClientProtocolTest, AnswersHooksAndCutsOfTheStream)
{
    Bytes add(132, 0);
    add[0] = add[1] = 0xFF;
    add[4] = 77;
    const Bytes three = Concat({Frame(11, {1}), Frame(11, {2, 2}), Frame(11, {3, 3, 3})});
    const std::vector<std::string> threeHooks = {"air:1:1", "air:2:2", "air:3:3"};
    const Bytes maxBody(OutPacket::kMaxBody, 1);
    Bytes tooLong = Frame(11, {});
    tooLong[0] = 0xFD;  // 8189: can never complete in the 8192-byte buffer
    tooLong[1] = 0x1F;
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<size_t> reads;  // 0 is the peer's orderly close; none: all at once
        std::vector<Bytes> sent;
        std::vector<std::string> hooks;
        bool ok = true;
    };
    const Case cases[] = {
        {"add object, kind 0xFFFF", Frame(5, add), {}, {Frame(6, {0xFF, 0xFF, 0xFF, 0xFF, 77, 0, 0, 0})}, {"add:132:0"}},
        {"echo as long as the send buffer", Frame(43, maxBody), {}, {Frame(43, maxBody)}, {}},
        {"echo longer than the send buffer", Frame(43, Bytes(OutPacket::kMaxBody + 1, 1)), {}, {}, {}},
        {"hooks", Concat({Frame(13, {5, 0, 0, 0}), Frame(32, {0, 0, 0, 0, 0, 0, 0, 0, 'x', 0})}), {}, {},
         {"remove:4:0", "chat:10:0"}},
        {"passed over", Concat({Frame(3, {1}), Frame(45, {1}), Frame(17, {}), Frame(22, {1}), Frame(37, {})}), {}, {}, {}},
        {"two whole and 3 bytes, then the rest", three, {9 + 10 + 3, 100}, {}, threeHooks},
        {"one byte at a time", three, std::vector<size_t>(three.size(), 1), {}, threeHooks},
        {"the length field alone, then the rest", Frame(11, {}), {4, 4}, {}, {"air:0"}},
        {"a close drops the partial packet", Concat({Bytes{12, 0, 0, 0, 11}, Frame(11, {9})}), {5, 0, 9}, {}, {"air:1:9"}},
        {"a packet filling the whole buffer", Frame(11, Bytes(8184, 1)), {100, 8092}, {}, {"air:8184:1"}},
        {"a length that never fits", tooLong, {}, {}, {}, false},
        {"a length that names no type", Bytes{3, 0, 0, 0, 11, 0, 0, 0}, {}, {}, {}, false},
    };
    for (const Case& c : cases) {
        Probe probe;
        size_t at = 0;
        bool ok = true;
        for (size_t n : c.reads.empty() ? std::vector<size_t>{c.stream.size()} : c.reads) {
            n = std::min(n, c.stream.size() - at);
            ok = probe.OnReceive(n ? c.stream.data() + at : nullptr, n).ok() && ok;
            at += n;
        }
        EXPECT_EQ(probe.sent, c.sent) << c.name;
        EXPECT_EQ(probe.hooks, c.hooks) << c.name;
        EXPECT_EQ(ok, c.ok) << c.name;
    }
    // The log-on carries at most 15 characters of the name and a zero byte 15.
    Probe probe;
    EXPECT_TRUE(probe.SendLogon("abcdefghijklmnopqrst", 20080220).ok());
    EXPECT_EQ(probe.sent, std::vector<Bytes>{Frame(1, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm',
                                                       'n', 'o', 0, 0x5C, 0x66, 0x32, 0x01})});
}

// What the connection did at each second (a: connect or log-on, h: bytes heard, r: refused or
// closed by the server, .: nothing), with a limit of 4 s; what the watch says at each tick.
TEST(HangWatchTest, HungOnlyWhenAnAnswerWasAwaitedForTheWholeLimit)
{
    const std::pair<const char*, const char*> cases[] = {
        {"ah.........", "...P......."},  // quiet after the log-on's answer: a new log-on probes
        {"ah..ah..ah.", "...P...P..."},  // a probe answered each time: never hung
        {"ah..a......", "...P.H....."},  // the probe unanswered: hung at the limit, once
        {"a..........", "....H......"},  // the first log-on unanswered
        {"a..r.a..r..", "..........."},  // refused: down, not hung
        {"a...h......", "......P...."},  // an answer late but within the limit
    };
    for (const auto& [did, says] : cases) {
        HangWatch w;
        w.Arm(4);
        std::string got;
        for (int64_t t = 0; did[t]; ++t) {
            did[t] == 'a' ? w.Attempt(t * 1000) : did[t] == 'h' ? w.Heard(t * 1000) : did[t] == 'r' ? w.Reset() : void();
            got += ".PH"[static_cast<int>(w.Tick(t * 1000))];
        }
        EXPECT_EQ(got, says) << did;
    }
}

// What happened on the connection (r: attempt refused, x: attempt failed otherwise, c:
// connected, s: send failed, S: sent, d: stream dropped, R: closed in order) and what reached the
// error log at each step (A: the attempt's cause, S: the send's, D: the drop's, .: nothing).
TEST(ConnectionFailuresTest, EachEpisodeToldOnceWithItsCause)
{
    const std::string nine(9, 'r');
    const std::pair<std::string, std::string> cases[] = {
        {"xxxcxx", "A...A."},
        {nine + "rr", std::string(9, '.') + "A."},               // a server down a minute
        {"rrxrr", "..A.."},                                      // another cause at once
        {nine + "c" + nine + "r", std::string(19, '.') + "A"},  // connecting starts the count afresh
        {"ssSsdRdd", "S..SD.D."},
    };
    for (const auto& [did, told] : cases) {
        ConnectionFailures failures;
        std::string got;
        std::vector<std::string> lines;
        failures.SetReport([&](std::string_view line) { lines.emplace_back(line); });
        for (char e : did) {
            const size_t before = lines.size();
            Failure f{};
            switch (e) {
            case 'r': f = failures.Attempt("127.0.0.1:7000", "Connection refused", true); break;
            case 'x': f = failures.Attempt("127.0.0.1:7000", "Too many open files", false); break;
            case 's': f = failures.Send("Broken pipe"); break;
            case 'd': f = failures.Stream("a packet length of 3 bytes"); break;
            case 'c': failures.Connected(); break;
            case 'S': failures.Sent(); break;
            case 'R': failures.ClosedInOrder(); break;
            }
            got += lines.size() == before ? '.' : lines.back()[0] == 'D' ? 'D' : lines.back()[7] == 'c' ? 'A' : 'S';
            if (lines.size() > before) {
                EXPECT_EQ(lines.back(), f.message) << did;
            }
        }
        EXPECT_EQ(got, told) << did;
    }
    ConnectionFailures failures;
    EXPECT_EQ(failures.Attempt("127.0.0.1:7000", "Connection timed out", false).message,
              "Cannot connect to the server at 127.0.0.1:7000: Connection timed out");
}

}  // namespace
