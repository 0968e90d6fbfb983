// SPDX-License-Identifier: MIT
#include "client/client_protocol.h"

#include <gtest/gtest.h>

#include <cstring>

#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
void WriteLe32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i)); }

Bytes Packet(uint32_t type, const Bytes& body, std::optional<uint32_t> length = {})
{
    Bytes p(8 + body.size());
    WriteLe32(p.data(), length.value_or(static_cast<uint32_t>(body.size() + 4)));
    WriteLe32(p.data() + 4, type);
    if (!body.empty())
        std::memcpy(p.data() + 8, body.data(), body.size());
    return p;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& b : parts)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

// Records what the protocol sends and which hooks it calls.
class Probe final : public ClientProtocol {
public:
    bool Transmit(const uint8_t* data, size_t size) override
    {
        sent.emplace_back(data, data + size);
        return true;
    }
    void OnAirState(const uint8_t* b, size_t n) override { Hook("air", b, n); }
    void OnAddObject(const uint8_t* b, size_t n) override { Hook("add", b, n); }
    void OnRemoveObject(const uint8_t* b, size_t n) override { Hook("remove", b, n); }
    void OnIncomingDamage(const uint8_t* b, size_t n) override { Hook("damage", b, n); }
    void OnChat(const uint8_t* b, size_t n) override { Hook("chat", b, n); }
    void Hook(const char* name, const uint8_t* body, size_t n)
    {
        hooks.push_back(std::string(name) + ":" + std::to_string(n) +
                        (n ? ":" + std::to_string(body[0]) : ""));
    }
    bool Feed(const Bytes& b) { return OnReceive(b.data(), b.size()); }

    std::vector<Bytes> sent;
    std::vector<std::string> hooks;
};

Bytes Ack(int32_t code, uint32_t value)
{
    Bytes body(8);
    WriteLe32(body.data(), static_cast<uint32_t>(code));
    WriteLe32(body.data() + 4, value);
    return Packet(PKT_ACK, body);
}

TEST(ClientProtocolTest, RepliesToEachServerPacket)
{
    Bytes handshakeBody(12);
    for (size_t i = 0; i < 12; ++i)
        handshakeBody[i] = static_cast<uint8_t>(i + 1);
    Bytes addBody(132, 0);
    addBody[0] = 0xFF;
    addBody[1] = 0xFF;
    WriteLe32(addBody.data() + 4, 77);
    struct Case {
        const char* name;
        Bytes in;
        std::vector<Bytes> sent;
        std::vector<std::string> hooks;
    };
    const Case cases[] = {
        {"handshake", Packet(4, handshakeBody),
         {Ack(9, 0), Ack(10, 0), Ack(11, 0), Packet(4, handshakeBody), Packet(33, {})},
         {}},
        {"add object, kind 0xFFFF", Packet(5, addBody), {Ack(-1, 77)}, {"add:132:255"}},
        {"type 16", Packet(16, {1, 2}), {Ack(7, 0)}, {}},
        {"type 33", Packet(33, {}), {Ack(4, 0)}, {}},
        {"echo 43", Packet(43, {9, 8, 7}), {Packet(43, {9, 8, 7})}, {}},
        {"echo 44, empty", Packet(44, {}), {Packet(44, {})}, {}},
        {"air state", Packet(11, {3, 0, 0}), {}, {"air:3:3"}},
        {"remove", Packet(13, {5, 0, 0, 0}), {}, {"remove:4:5"}},
        {"damage", Packet(22, {6}), {}, {"damage:1:6"}},
        {"chat", Packet(32, {0, 0, 0, 0, 0, 0, 0, 0, 'x', 0}), {}, {"chat:10:0"}},
        {"type 37", Packet(37, {}), {}, {}},
        {"ignored types", Join({Packet(3, {1}), Packet(45, {1}), Packet(17, {})}), {}, {}},
    };
    for (const Case& c : cases) {
        Probe probe;
        EXPECT_TRUE(probe.Feed(c.in)) << c.name;
        EXPECT_EQ(probe.sent, c.sent) << c.name;
        EXPECT_EQ(probe.hooks, c.hooks) << c.name;
    }
}

TEST(ClientProtocolTest, CutsTheStreamAcrossReads)
{
    const Bytes a = Packet(11, {1});
    const Bytes b = Packet(11, {2, 2});
    const Bytes c = Packet(11, {3, 3, 3});
    const Bytes stream = Join({a, b, c});
    struct Case {
        const char* name;
        std::vector<size_t> cuts;  // read sizes
    };
    const Case cases[] = {
        {"one read", {stream.size()}},
        {"two whole and 3 bytes, then the rest", {a.size() + b.size() + 3, 1000}},
        {"one byte at a time", std::vector<size_t>(stream.size(), 1)},
        {"length field alone", {4, 4, 1, 1000}},
    };
    for (const Case& k : cases) {
        Probe probe;
        size_t at = 0;
        std::vector<size_t> buffered;
        for (size_t cut : k.cuts) {
            size_t n = std::min(cut, stream.size() - at);
            ASSERT_TRUE(probe.OnReceive(stream.data() + at, n)) << k.name;
            at += n;
        }
        EXPECT_EQ(probe.hooks, (std::vector<std::string>{"air:1:1", "air:2:2", "air:3:3"}))
            << k.name;
    }
    // An empty-bodied packet of exactly 8 bytes, and the 4 length bytes alone.
    Probe probe;
    Bytes empty = Packet(11, {});
    probe.OnReceive(empty.data(), 4);
    EXPECT_TRUE(probe.hooks.empty());
    probe.OnReceive(empty.data() + 4, 4);
    EXPECT_EQ(probe.hooks, std::vector<std::string>{"air:0"});
}

TEST(ClientProtocolTest, OrderlyCloseDropsThePartialPacket)
{
    Probe probe;
    Bytes p = Packet(11, {1, 2, 3});
    probe.OnReceive(p.data(), 5);
    probe.OnReceive(nullptr, 0);
    // The next connection's data is not glued to the old tail.
    probe.Feed(Packet(11, {9}));
    EXPECT_EQ(probe.hooks, std::vector<std::string>{"air:1:9"});
}

TEST(ClientProtocolTest, UnservableLengthsEndTheStream)
{
    struct Case {
        const char* name;
        uint32_t length;
        bool ok;
    };
    const Case cases[] = {
        {"largest that fits", 8188, true}, {"one more", 8189, false}, {"huge", 0x7FFFFFFF, false},
        {"no type", 3, false},             {"zero", 0, false},        {"empty body", 4, true},
    };
    for (const Case& c : cases) {
        Probe probe;
        Bytes body(c.length >= 4 && c.length <= 8188 ? c.length - 4 : 0, 0);
        Bytes p = Packet(11, body, c.length);
        EXPECT_EQ(probe.Feed(p), c.ok) << c.name;
        EXPECT_EQ(probe.hooks.size(), c.ok ? 1u : 0u) << c.name;
    }
    // A packet that fills the whole reassembly buffer, fed in two reads.
    Probe probe;
    Bytes big = Packet(11, Bytes(8184, 1));
    ASSERT_EQ(big.size(), 8192u);
    EXPECT_TRUE(probe.OnReceive(big.data(), 100));
    EXPECT_TRUE(probe.OnReceive(big.data() + 100, big.size() - 100));
    EXPECT_EQ(probe.hooks, std::vector<std::string>{"air:8184:1"});
}

TEST(ClientProtocolTest, EchoLongerThanTheSendBufferIsNotSent)
{
    Probe probe;
    EXPECT_TRUE(probe.Feed(Packet(43, Bytes(OutPacket::kMaxBody, 1))));
    EXPECT_TRUE(probe.Feed(Packet(43, Bytes(OutPacket::kMaxBody + 1, 1))));
    ASSERT_EQ(probe.sent.size(), 1u);
    EXPECT_EQ(probe.sent[0].size(), OutPacket::kMaxBody + 8);
}

TEST(ClientProtocolTest, LogonAndChatBodies)
{
    Probe probe;
    probe.SendLogon("abcdefghijklmnopqrst", 20080220);
    Bytes body(20, 0);
    std::memcpy(body.data(), "abcdefghijklmno", 15);
    WriteLe32(body.data() + 16, 20080220);
    probe.SendLogon("Glim=+9-3", 0);
    Bytes body2(20, 0);
    std::memcpy(body2.data(), "Glim=+9-3", 9);
    probe.SendChat("hi", "op");
    probe.SendChat("plain");
    const std::vector<Bytes> expected = {
        Packet(1, body), Packet(1, body2),
        Packet(32, {0, 0, 0, 0, 0, 0, 0, 0, '(', 'o', 'p', ')', 'h', 'i', 0}),
        Packet(32, {0, 0, 0, 0, 0, 0, 0, 0, 'p', 'l', 'a', 'i', 'n', 0}),
    };
    EXPECT_EQ(probe.sent, expected);
}

}  // namespace
