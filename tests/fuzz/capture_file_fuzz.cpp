// SPDX-License-Identifier: MIT
#include "capture/capture_file.h"
#include "capture/decoder_rig.h"
#include "fuzz/fuzz_target.h"

using namespace zpmoni;

// A capture file as --replay reads it (pcap or pcapng: block lengths, time resolutions, snap
// lengths, link types), its datagrams decoded as the replay decodes them.
FUZZ_TARGET(FuzzCaptureFile)
{
    CaptureFile capture;
    if (!capture.Open(fmemopen(const_cast<uint8_t*>(data), size, "rb")).empty())
        return 0;
    DecoderRig rig({0x016433C6});  // 198.51.100.1
    CaptureFile::Datagram d;
    while (capture.Next(d)) {
        rig.clock.seconds = d.seconds;
        rig.clock.tick = d.tickMs;
        rig.decoder.HandleDatagram(d.data, d.size);
    }
    return 0;
}
