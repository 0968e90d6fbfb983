// SPDX-License-Identifier: MIT
#include "capture/decoder.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace testing_datagrams;

namespace {

class Recorder final : public DecoderEvents {
public:
    void OnLogon(int64_t t, const PlayerRecord& r) override { Add("LOGON", t, r); }
    void OnLogoff(int64_t t, const PlayerRecord& r) override { Add("LOGOFF", t, r); }
    void OnJoin(int64_t t, const PlayerRecord& r) override
    {
        Add("JOIN", t, r);
        events.back() += " " + std::to_string(r.iff) + " " + std::string(r.aircraftName.View()) +
                         " " + std::string(r.startPosition.View()) + " [" +
                         std::string(r.packName.View()) + "]";
    }
    void OnCapturedChat(std::string_view text) override
    {
        events.push_back("CHAT " + std::string(text));
    }
    void Add(const char* kind, int64_t t, const PlayerRecord& r)
    {
        events.push_back(std::string(kind) + " " + std::to_string(t) + " " +
                         std::string(r.addressText.View()) + ":" + std::to_string(r.port) + " " +
                         std::string(r.userName.View()));
    }
    std::vector<std::string> events;
};

class DecoderTest : public ::testing::Test {
protected:
    DecoderTest() : table(clock), decoder(table, packs, clock)
    {
        table.SetResolveNames(false);
        clock.seconds = 1000001;  // not a multiple of 15: no sweep unless a test wants one
        LocalAddressTable local;
        local.entries = {Addr("198.51.100.1"), Addr("198.51.100.9"), 0, Addr("198.51.100.7")};
        decoder.SetLocalAddresses(local);
        decoder.SetEvents(&recorder);
    }

    // The datagram lies in a buffer of exactly its size, so a read past it is caught by ASan.
    int Handle(const Bytes& d, ChecksumStatus status = ChecksumStatus::Unknown)
    {
        auto exact = std::make_unique<uint8_t[]>(d.size());
        if (!d.empty())
            std::memcpy(exact.get(), d.data(), d.size());
        return decoder.HandleDatagram(exact.get(), d.size(), status);
    }
    int ToServer(Bytes payload, uint16_t clientPort = 40000, uint8_t flags = 0x18)
    {
        Segment s;
        s.sourcePort = clientPort;
        s.flags = flags;
        s.payload = std::move(payload);
        return Handle(Datagram(s));
    }
    int FromServer(Bytes payload, uint16_t clientPort = 40000, uint8_t flags = 0x18)
    {
        Segment s;
        std::swap(s.source, s.destination);
        s.sourcePort = 7915;
        s.destinationPort = clientPort;
        s.flags = flags;
        s.payload = std::move(payload);
        return Handle(Datagram(s));
    }
    int OnlineCount() const
    {
        int n = 0;
        for (int i = 0; i < PlayerTable::kSlots; ++i)
            n += table.Slot(i).Online();
        return n;
    }
    const PlayerRecord& First() const { return table.Slot(0); }

    ManualClock clock;
    PlayerTable table;
    PackIndex packs;
    Decoder decoder;
    Recorder recorder;
};

TEST_F(DecoderTest, ChecksumMatchesTheTextbookHeader)
{
    // A well-known IPv4 header whose checksum field (b861) is correct.
    const uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                                0xb8, 0x61, 0xc0, 0xa8, 0x00, 0x01, 0xc0, 0xa8, 0x00, 0xc7};
    EXPECT_EQ(ChecksumFinish(ChecksumAdd(header, sizeof header)), 0);
    uint8_t wrong[20];
    std::memcpy(wrong, header, 20);
    wrong[11] ^= 1;
    EXPECT_NE(ChecksumFinish(ChecksumAdd(wrong, sizeof wrong)), 0);
}

TEST_F(DecoderTest, ChecksumOfOddAndEvenLengthsAgreesWithSixteenBitWords)
{
    std::vector<uint8_t> data(37);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t n = 0; n <= data.size(); ++n) {
        uint32_t sum = 0;
        for (size_t i = 0; i < n; i += 2) {
            uint16_t w;
            uint8_t pair[2] = {data[i], i + 1 < n ? data[i + 1] : uint8_t(0)};
            std::memcpy(&w, pair, 2);
            sum += w;
        }
        while (sum >> 16)
            sum = (sum >> 16) + (sum & 0xFFFF);
        EXPECT_EQ(ChecksumFinish(ChecksumAdd(data.data(), n)), static_cast<uint16_t>(~sum))
            << "length " << n;
    }
}

TEST_F(DecoderTest, TruncatedDatagramIsRejectedAndNotCounted)
{
    Segment s;
    s.payload = Logon("alice");
    Bytes d = Datagram(s);
    d.pop_back();
    EXPECT_EQ(Handle(d), 1);
    EXPECT_EQ(table.inboundBytes, 0u);
    EXPECT_EQ(OnlineCount(), 0);
}

TEST_F(DecoderTest, ClassificationByPortAndLocalAddress)
{
    struct Case {
        const char* name;
        const char* source;
        const char* destination;
        uint16_t sourcePort, destinationPort;
        uint32_t inbound, outbound;
    };
    const Bytes payload = AirState();
    const uint32_t size = static_cast<uint32_t>(40 + payload.size() + 14);
    const Case cases[] = {
        {"to the server", "198.51.100.2", "198.51.100.1", 40000, 7915, size, 0},
        {"to the second address", "198.51.100.2", "198.51.100.9", 40000, 7915, size, 0},
        {"to an address after the first empty entry", "198.51.100.2", "198.51.100.7", 40000,
         7915, 0, 0},
        {"to port P of another host", "198.51.100.2", "198.51.100.3", 40000, 7915, 0, 0},
        {"from the server", "198.51.100.1", "198.51.100.2", 7915, 40000, 0, size},
        {"from port P of another host", "198.51.100.3", "198.51.100.2", 7915, 40000, 0, 0},
        {"from 0.0.0.0", "0.0.0.0", "198.51.100.2", 7915, 40000, 0, 0},
        {"other ports", "198.51.100.2", "198.51.100.1", 40000, 80, 0, 0},
    };
    for (const Case& c : cases) {
        table.inboundBytes = table.outboundBytes = 0;
        Segment s;
        s.source = Addr(c.source);
        s.destination = Addr(c.destination);
        s.sourcePort = c.sourcePort;
        s.destinationPort = c.destinationPort;
        s.payload = payload;
        EXPECT_EQ(Handle(Datagram(s)), 0) << c.name;
        EXPECT_EQ(table.inboundBytes, c.inbound) << c.name;
        EXPECT_EQ(table.outboundBytes, c.outbound) << c.name;
    }
}

TEST_F(DecoderTest, BareAcknowledgementIsCountedButCreatesNoRecord)
{
    EXPECT_EQ(ToServer({}, 40000, 0x10), 0);
    EXPECT_EQ(table.inboundBytes, 54u);
    EXPECT_EQ(OnlineCount(), 0);
}

TEST_F(DecoderTest, FirstDataSegmentCreatesAnUnknownPlayer)
{
    ToServer(Frame(99, Bytes(12, 7)), 40001);
    ASSERT_EQ(OnlineCount(), 1);
    EXPECT_EQ(First().userName.View(), "unknown");
    EXPECT_EQ(First().aircraftName.View(), "unknown");
    EXPECT_EQ(First().startPosition.View(), "unknown");
    EXPECT_EQ(First().packName.View(), "");
    EXPECT_EQ(First().iff, 0u);
    EXPECT_EQ(First().port, 40001);
    EXPECT_EQ(First().addressText.View(), "198.51.100.2");
    EXPECT_EQ(First().lastActivity, clock.seconds);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(DecoderTest, LogonThenJoinInOneSegmentReportInOrder)
{
    ASSERT_EQ(packs.Load(""), 0);
    ToServer(Concat({Logon("alice"), Join(2, "F-15C", "Runway 1"), Logon("alice")}));
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[0], "LOGON 1000001 198.51.100.2:40000 alice");
    EXPECT_EQ(recorder.events[1], "JOIN 1000001 198.51.100.2:40000 alice 3 F-15C Runway 1 []");
    EXPECT_EQ(recorder.events[2], "LOGON 1000001 198.51.100.2:40000 alice");
    EXPECT_FALSE(First().Flying());
}

TEST_F(DecoderTest, FlyingFollowsAirStateAndUnjoin)
{
    ToServer(AirState());
    EXPECT_TRUE(First().Flying());
    EXPECT_EQ(First().iff, 0u);
    EXPECT_EQ(First().aircraftName.View(), "unknown");
    ToServer(Unjoin());
    EXPECT_TRUE(First().Online());
    EXPECT_FALSE(First().Flying());
}

TEST_F(DecoderTest, ScanStopsAtBadLengthAndSkipsUnknownTypes)
{
    struct Case {
        const char* name;
        Bytes payload;
        std::vector<std::string> events;
    };
    Bytes zeroLength = Logon("bob");
    PutLe32(zeroLength, 0, 0);
    Bytes tooLong = Logon("carol");
    PutLe32(tooLong, 0, 4000);
    Bytes huge = Logon("dave");
    PutLe32(huge, 0, 0x7FFFFFFF);
    Bytes negative = Logon("erin");
    PutLe32(negative, 0, 0xFFFFFFFE);
    const Case cases[] = {
        {"unknown type skipped", Concat({Frame(77, Bytes(5, 1)), Logon("amy")}), {"amy"}},
        {"length 0 ends the scan", Concat({Logon("amy"), zeroLength, Logon("zed")}), {"amy"}},
        {"past the end", Concat({Logon("amy"), tooLong}), {"amy"}},
        {"largest length", Concat({huge, Logon("zed")}), {}},
        {"negative length", Concat({negative, Logon("zed")}), {}},
        {"fewer than 4 bytes left", Concat({Logon("amy"), Bytes{1, 0, 0}}), {"amy"}},
    };
    uint16_t port = 41000;
    for (const Case& c : cases) {
        recorder.events.clear();
        ToServer(c.payload, ++port);
        std::vector<std::string> names;
        for (const std::string& e : recorder.events)
            names.push_back(e.substr(e.rfind(' ') + 1));
        EXPECT_EQ(names, c.events) << c.name;
    }
}

TEST_F(DecoderTest, FinOrRstInEitherDirectionEndsTheRecord)
{
    struct Case {
        const char* name;
        bool fromServer;
        uint8_t flags;
    };
    const Case cases[] = {{"client FIN", false, 0x11}, {"client RST", false, 0x04},
                          {"server FIN", true, 0x11}, {"server RST", true, 0x14}};
    for (const Case& c : cases) {
        recorder.events.clear();
        ToServer(Logon("alice"));
        ASSERT_EQ(OnlineCount(), 1) << c.name;
        // The payload of a closing segment is not read: its log-on reports nothing.
        if (c.fromServer)
            FromServer(AddObject(0, "other"), 40000, c.flags);
        else
            ToServer(Logon("changed"), 40000, c.flags);
        EXPECT_EQ(OnlineCount(), 0) << c.name;
        ASSERT_EQ(recorder.events.size(), 2u) << c.name;
        EXPECT_EQ(recorder.events[1], "LOGOFF 1000001 198.51.100.2:40000 alice") << c.name;
        EXPECT_EQ(First().userName.View(), "unknown") << c.name;
    }
    // A close for a client without a record reports nothing.
    recorder.events.clear();
    ToServer({}, 45000, 0x11);
    FromServer({}, 45000, 0x04);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(DecoderTest, AddObjectRenamesOnlyPlaceholderNames)
{
    struct Case {
        const char* before;
        uint16_t notOwn;
        const char* after;
    };
    const Case cases[] = {
        {"unknown", 0, "renamed"}, {"user7", 0, "renamed"}, {"", 0, "renamed"},
        {"alice", 0, "alice"},     {"Unknown", 0, "Unknown"}, {"user7", 1, "user7"},
    };
    for (const Case& c : cases) {
        table.ClearAll();
        ToServer(*c.before ? Logon(c.before) : AirState());
        if (!*c.before)
            table.Slot(0).userName = "";
        FromServer(AddObject(c.notOwn, "renamed"));
        EXPECT_EQ(First().userName.View(), c.after) << c.before << " " << c.notOwn;
    }
}

TEST_F(DecoderTest, ServerDatagramForUnknownClientIsOnlyCounted)
{
    EXPECT_EQ(FromServer(AddObject(0, "x"), 40000), 0);
    EXPECT_EQ(OnlineCount(), 0);
    EXPECT_GT(table.outboundBytes, 0u);
}

TEST_F(DecoderTest, ServerDatagramRefreshesActivity)
{
    ToServer(Logon("alice"));
    clock.seconds += 50;
    FromServer(AirState());
    EXPECT_EQ(First().lastActivity, clock.seconds);
}

TEST_F(DecoderTest, ChecksumVerdicts)
{
    struct Case {
        const char* name;
        bool checksumOn;
        ChecksumStatus status;
        int corruptAt;  // byte offset to damage, -1 for none
        int result;
        bool creates;
    };
    const Case cases[] = {
        {"good, tested", true, ChecksumStatus::Unknown, -1, 0, true},
        {"bad TCP, tested", true, ChecksumStatus::Unknown, 48, 1, false},
        {"bad IP, tested", true, ChecksumStatus::Unknown, 10, 1, false},
        {"bad TCP, checking off", false, ChecksumStatus::Unknown, 48, 0, true},
        {"bad TCP, verified by the interface", true, ChecksumStatus::Verified, 48, 0, true},
        {"partial checksum of an offloading interface", true, ChecksumStatus::Unverifiable, 48, 0,
         true},
    };
    for (const Case& c : cases) {
        table.ClearAll();
        table.inboundBytes = 0;
        recorder.events.clear();
        decoder.SetChecksum(c.checksumOn);
        Segment s;
        s.payload = Logon("alice");
        Bytes d = Datagram(s);
        if (c.corruptAt >= 0)
            d[c.corruptAt] ^= 0x40;
        EXPECT_EQ(Handle(d, c.status), c.result) << c.name;
        EXPECT_EQ(table.inboundBytes, d.size() + 14) << c.name;
        EXPECT_EQ(OnlineCount(), c.creates ? 1 : 0) << c.name;
        EXPECT_EQ(recorder.events.size(), c.creates ? 1u : 0u) << c.name;
    }
}

TEST_F(DecoderTest, TwentyFifthClientIsCountedButNotTracked)
{
    for (uint16_t i = 0; i < 25; ++i)
        ToServer(Logon("p" + std::to_string(i)), static_cast<uint16_t>(50000 + i));
    EXPECT_EQ(OnlineCount(), 24);
    EXPECT_EQ(recorder.events.size(), 24u);
    const uint32_t counted = table.inboundBytes;
    ToServer(AirState(), 50024);
    EXPECT_GT(table.inboundBytes, counted);
    EXPECT_EQ(table.Find(Addr("198.51.100.2"), 50024, false), nullptr);
    // A freed slot goes to the next new client.
    ToServer({}, 50003, 0x04);
    ToServer(Logon("late"), 50024);
    EXPECT_EQ(table.Slot(3).userName.View(), "late");
}

TEST_F(DecoderTest, IdleSweepRunsAfterDatagramsToTheServer)
{
    ToServer(Logon("old"), 40000);
    clock.seconds = 1000020;  // multiple of 15, 19 s later
    ToServer(Logon("new"), 40001);
    EXPECT_EQ(OnlineCount(), 2);
    clock.seconds = 1000065;  // 64 s after "old" was last seen, 45 s after "new"
    ToServer({}, 40002, 0x10);
    EXPECT_EQ(OnlineCount(), 1);
    EXPECT_EQ(table.Slot(1).userName.View(), "new");
    // No log-off for a swept record.
    EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(DecoderTest, ShortAndMalformedInputReadsNothingBeyondTheBytes)
{
    // IP header length below 5, a TCP header beyond the end, fields beyond their packet.
    Bytes tiny = {0x41, 0, 0, 8, 0, 0, 0, 0};
    EXPECT_EQ(Handle(tiny), 0);
    Bytes one = {0x45};
    EXPECT_EQ(Handle(one), 0);
    Bytes headerOnly = {0x4F, 0, 0, 20, 0, 0, 0, 0, 64, 6, 0, 0, 198, 51, 100, 2, 198, 51, 100, 1};
    EXPECT_EQ(Handle(headerOnly), 0);
    EXPECT_EQ(Handle(Bytes{}), 0);

    decoder.SetChecksum(false);
    Bytes shortJoin = Frame(PKT_JOIN, Bytes{4, 0, 0, 0, 'M', 'i', 'G'});
    Bytes openChat = Frame(PKT_CHAT, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'});
    Bytes shortLogon = Frame(PKT_LOGON, Bytes{'l', 'o', 'n', 'g', 'n', 'a', 'm', 'e'});
    ToServer(Concat({shortLogon, shortJoin, openChat}));
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[0], "LOGON 1000001 198.51.100.2:40000 longname");
    EXPECT_EQ(recorder.events[1], "JOIN 1000001 198.51.100.2:40000 longname 5 MiG  []");
    EXPECT_EQ(recorder.events[2], "CHAT hi");
    // A segment too short for its TCP header: the payload length is negative, nothing is read.
    Segment s;
    s.payload = Logon("x");
    Bytes d = Datagram(s);
    d[32] = 0xF0;  // TCP header length 60, beyond the datagram
    recorder.events.clear();
    EXPECT_EQ(Handle(d), 0);
    EXPECT_TRUE(recorder.events.empty());
}

TEST_F(DecoderTest, LongFieldsAreCutAtTheirLength)
{
    ToServer(Concat({Logon("abcdefghijklmnopq"),
                     Join(0, std::string(40, 'A'), std::string(40, 'S')), Chat("hello world")}));
    EXPECT_EQ(First().userName.View(), "abcdefghijklmno");
    EXPECT_EQ(First().aircraftName.View(), std::string(31, 'A'));
    EXPECT_EQ(First().startPosition.View(), std::string(31, 'S'));
    EXPECT_EQ(recorder.events.back(), "CHAT hello world");
}

TEST_F(DecoderTest, JoinLooksUpThePack)
{
    const std::string path = ::testing::TempDir() + "decoder_packs.txt";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("Pack=Jets\nF-15C\nMiG 29\n", f);
    std::fclose(f);
    ASSERT_EQ(packs.Load(path), 2);
    ToServer(Concat({Logon("amy"), Join(0, "f-15c", "Base"), Join(1, "MIG_29", "Base")}));
    EXPECT_EQ(recorder.events[1], "JOIN 1000001 198.51.100.2:40000 amy 1 f-15c Base [Jets]");
    EXPECT_EQ(recorder.events[2], "JOIN 1000001 198.51.100.2:40000 amy 2 MIG_29 Base [Jets]");
    std::remove(path.c_str());
}

}  // namespace
