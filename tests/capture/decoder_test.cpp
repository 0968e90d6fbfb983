// SPDX-License-Identifier: MIT
#include "capture/decoder_rig.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace zpmoni;

namespace {

// What the recorded captures cannot show: the checksum verdicts of the interface and more than
// one local address. A recorded log-on of "real" from 198.51.100.2 to 198.51.100.1:7915.
const std::string kLogon =
    "45000044000040004006e649c6336402c63364019c461eeb00000001000000015018ffff24d9000018000000010000007265616c00"
    "00000000000000000000005c663201";

TEST(DecoderTest, ChecksumVerdictsAndLocalAddresses)
{
    struct Case {
        const char* name;
        uint8_t destination;  // last byte of 198.51.100.x; other than 1, the sums no longer hold
        bool corrupt, testing;
        ChecksumStatus status;
        int result;
        bool counted, dropped = false;  // dropped: from a source the packet filter drops
    };
    const Case cases[] = {
        {"sums right, tested here", 1, false, true, ChecksumStatus::Unknown, 0, true},
        {"bad TCP sum, tested here", 1, true, true, ChecksumStatus::Unknown, 1, true},
        {"bad TCP sum the interface passed", 1, true, true, ChecksumStatus::Verified, 0, true},
        {"partial sum of an offloading interface", 1, true, true, ChecksumStatus::Unverifiable, 0, true},
        {"to the second local address", 9, false, false, ChecksumStatus::Unknown, 0, true},
        {"to an address after the first empty entry", 7, false, false, ChecksumStatus::Unknown, 0, false},
        {"from a banned source: counted, not decoded", 1, false, true, ChecksumStatus::Unknown, 0, true, true},
    };
    for (const Case& c : cases) {
        DecoderRig rig({0x016433C6, 0x096433C6, 0, 0x076433C6});  // .1, .9, none, .7
        rig.decoder.SetChecksum(c.testing);
        rig.decoder.SetSourceFilter([&](uint32_t from, uint32_t to) {
            return c.dropped && from == 0x026433C6 && to == 0x016433C6;  // .2 to .1
        });
        // A buffer of exactly the datagram's size, so that ASan sees a read past it.
        const size_t size = kLogon.size() / 2;
        auto d = std::make_unique<uint8_t[]>(size);
        for (size_t i = 0; i < size; ++i)
            d[i] = static_cast<uint8_t>(std::stoi(kLogon.substr(2 * i, 2), nullptr, 16));
        d[19] = c.destination;
        d[60] ^= c.corrupt ? 0x40 : 0;
        EXPECT_EQ(rig.decoder.HandleDatagram(d.get(), size, c.status), c.result) << c.name;
        EXPECT_EQ(rig.table.inboundBytes, c.counted ? size + 14 : 0u) << c.name;
        EXPECT_EQ(rig.table.totals.datagramsIn, c.counted ? 1u : 0u) << c.name;
        EXPECT_EQ(rig.table.totals.bytesIn, c.counted ? size + 14 : 0u) << c.name;
        const bool decoded = c.counted && c.result == 0 && !c.dropped;
        EXPECT_EQ(rig.table.Slot(0).userName.View(), decoded ? "real" : "unknown") << c.name;
        // The same segment back from the server answers the log-on: each way counts to the record.
        std::swap_ranges(d.get() + 12, d.get() + 16, d.get() + 16);  // addresses
        std::swap_ranges(d.get() + 20, d.get() + 22, d.get() + 22);  // ports
        rig.decoder.HandleDatagram(d.get(), size, c.status);
        const size_t wire = decoded ? size + 14 : 0;
        EXPECT_EQ(rig.table.totals.datagramsOut, rig.table.outboundBytes != 0 ? 1u : 0u) << c.name;
        EXPECT_EQ(std::pair(rig.table.Slot(0).bytesIn, rig.table.Slot(0).bytesOut), std::pair(wire, wire)) << c.name;
    }
}

}  // namespace
