// SPDX-License-Identifier: MIT
#include "capture/capture_file.h"

#include "base/byte_reader.h"

#include <pcap/pcap.h>

namespace zpmoni {

namespace {

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeQinQ = 0x88A8;

// Offset of the IPv4 header in a frame of the link type, or -1 when the frame carries none.
long IpOffset(int linkType, ByteReader frame)
{
    switch (linkType) {
    case DLT_EN10MB: {
        size_t type = 12;
        // 802.1Q / 802.1ad tags in front of the type.
        while (frame.Be16(type) == kEtherTypeVlan || frame.Be16(type) == kEtherTypeQinQ)
            type += 4;
        return frame.Be16(type) == kEtherTypeIpv4 ? static_cast<long>(type + 2) : -1;
    }
    case DLT_LINUX_SLL:
        return frame.Be16(14) == kEtherTypeIpv4 ? 16 : -1;
    case DLT_LINUX_SLL2:
        return frame.Be16(0) == kEtherTypeIpv4 ? 20 : -1;
    case DLT_RAW:
    case DLT_IPV4:
        return frame.U8(0) >> 4 == 4 ? 0 : -1;
    default:
        return -1;
    }
}

}  // namespace

std::string CaptureFile::Open(const std::string& path)
{
    char message[PCAP_ERRBUF_SIZE] = "";
    return Opened(pcap_open_offline(path.c_str(), message), message);
}

std::string CaptureFile::Open(FILE* file)
{
    if (!file)
        return "no file";
    char message[PCAP_ERRBUF_SIZE] = "";
    pcap_t* opened = pcap_fopen_offline(file, message);
    if (!opened)
        std::fclose(file);
    return Opened(opened, message);
}

std::string CaptureFile::Opened(pcap* opened, const char* message)
{
    handle = {opened, &pcap_close};
    error.clear();
    skipped = 0;
    if (!handle)
        return message;
    linkType = pcap_datalink(handle.get());
    if (linkType != DLT_EN10MB && linkType != DLT_LINUX_SLL && linkType != DLT_LINUX_SLL2 &&
        linkType != DLT_RAW && linkType != DLT_IPV4) {
        const char* name = pcap_datalink_val_to_name(linkType);
        handle.reset();
        return std::string("unsupported link type ") + (name ? name : "unknown");
    }
    return {};
}

bool CaptureFile::Next(Datagram& out)
{
    if (!handle)
        return false;
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    int status;
    while ((status = pcap_next_ex(handle.get(), &header, &frame)) == 1) {
        const long offset = IpOffset(linkType, {frame, header->caplen});
        if (offset < 0 || static_cast<size_t>(offset) >= header->caplen)
            continue;
        // A crafted file can carry any 64-bit time (a pcapng with a resolution of seconds): a
        // frame before 1970 or beyond the last second shown has no time to decode it at.
        const int64_t seconds = header->ts.tv_sec;
        const int64_t micros = header->ts.tv_usec;
        if (seconds < 0 || seconds > kLastSecond || micros < 0 || micros >= 1000000) {
            ++skipped;
            continue;
        }
        out.seconds = seconds;
        out.tickMs = static_cast<uint32_t>(static_cast<uint64_t>(seconds) * 1000 + static_cast<uint64_t>(micros) / 1000);
        out.data = frame + offset;
        out.size = header->caplen - static_cast<size_t>(offset);
        return true;
    }
    if (status == PCAP_ERROR)
        error = pcap_geterr(handle.get());
    return false;
}

}  // namespace zpmoni
