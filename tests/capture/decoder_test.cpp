// SPDX-License-Identifier: MIT
#include "capture/decoder.h"

#include "capture/datagram_builder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace testing_datagrams;

namespace {

// What the recorded captures cannot show: checksum verdicts of the interface, more than one
// local address, and fields cut at their length or at the end of their packet.
class DecoderTest : public ::testing::Test, public DecoderEvents {
protected:
    DecoderTest() : table(clock), decoder(table, packs, clock)
    {
        table.SetResolveNames(false);
        clock.seconds = 1000001;  // not a multiple of 15: no idle sweep
        LocalAddressTable local;
        local.entries = {Addr("198.51.100.1"), Addr("198.51.100.9"), 0, Addr("198.51.100.7")};
        decoder.SetLocalAddresses(local);
        decoder.SetEvents(this);
    }
    void OnLogon(int64_t, const PlayerRecord& r) override { events.push_back(std::string(r.userName.View())); }
    void OnLogoff(int64_t, const PlayerRecord&) override { events.push_back("LOGOFF"); }
    void OnJoin(int64_t, const PlayerRecord& r) override
    {
        events.push_back(std::to_string(r.iff) + " " + std::string(r.aircraftName.View()) + "|" +
                         std::string(r.startPosition.View()));
    }
    void OnCapturedChat(std::string_view text) override { events.push_back("CHAT " + std::string(text)); }

    // The datagram lies in a buffer of exactly its size, so ASan sees any read past it.
    int Handle(const Bytes& d, ChecksumStatus status = ChecksumStatus::Unknown)
    {
        auto exact = std::make_unique<uint8_t[]>(d.size());
        std::memcpy(exact.get(), d.data(), d.size());
        return decoder.HandleDatagram(exact.get(), d.size(), status);
    }
    void ToServer(Bytes payload)
    {
        Segment s;
        s.payload = std::move(payload);
        Handle(Datagram(s));
    }

    ManualClock clock;
    PlayerTable table;
    PackIndex packs;
    Decoder decoder;
    std::vector<std::string> events;
};

TEST_F(DecoderTest, ChecksumVerdictsAndLocalAddresses)
{
    struct Case {
        const char* name;
        const char* destination;
        bool corrupt;
        ChecksumStatus status;
        int result;
        bool counted, created;
    };
    const Case cases[] = {
        {"to the second address", "198.51.100.9", false, ChecksumStatus::Unknown, 0, true, true},
        {"to an address after the first empty entry", "198.51.100.7", false, ChecksumStatus::Unknown, 0, false, false},
        {"bad TCP sum, tested here", "198.51.100.1", true, ChecksumStatus::Unknown, 1, true, false},
        {"bad TCP sum the interface passed", "198.51.100.1", true, ChecksumStatus::Verified, 0, true, true},
        {"partial sum of an offloading interface", "198.51.100.1", true, ChecksumStatus::Unverifiable, 0, true, true},
    };
    for (const Case& c : cases) {
        table.ClearAll();
        table.inboundBytes = 0;
        Segment s;
        s.destination = Addr(c.destination);
        s.payload = Logon("amy");
        Bytes d = Datagram(s);
        d[48] ^= c.corrupt ? 0x40 : 0;
        EXPECT_EQ(Handle(d, c.status), c.result) << c.name;
        EXPECT_EQ(table.inboundBytes, c.counted ? d.size() + 14 : 0u) << c.name;
        EXPECT_EQ(table.Slot(0).Online(), c.created) << c.name;
    }
}

TEST_F(DecoderTest, FieldsEndAtTheirLengthOrAtTheirPacket)
{
    const std::string a32(32, 'A'), s32(32, 'S');
    ToServer(Concat({Logon("abcdefghijklmnopq"), Frame(8, Bytes(68, 0), {{0, "\x02"}, {4, a32}, {36, s32}}),
                     Frame(8, Bytes{4, 0, 0, 0, 'M', 'i', 'G'}), Frame(32, Bytes{0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'})}));
    const std::vector<std::string> expected = {"abcdefghijklmno", "3 " + a32.substr(1) + "|" + s32.substr(1),
                                               "5 MiG|", "CHAT hi"};
    EXPECT_EQ(events, expected);
}

TEST_F(DecoderTest, OnlyAPlaceholderNameGivesWayToTheAnnouncedOne)
{
    for (auto [before, after] : {std::pair{"", "renamed"}, {"Unknown", "Unknown"}, {"u", "renamed"}}) {
        table.ClearAll();
        ToServer(Logon(before));
        Segment s;
        std::swap(s.source, s.destination);
        std::swap(s.sourcePort, s.destinationPort);
        s.payload = AddObject(0, "renamed");
        Handle(Datagram(s));
        EXPECT_EQ(table.Slot(0).userName.View(), after) << before;
    }
}

}  // namespace
