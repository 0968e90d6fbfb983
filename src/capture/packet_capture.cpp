// SPDX-License-Identifier: MIT
#include "capture/packet_capture.h"

#include "platform/address_table.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zpmoni {

namespace {

// A classic BPF program passing only IPv4 datagrams whose transport header carries the port,
// compiled by libpcap for raw IP: the packet socket delivers from the network header on.
bool AttachPortFilter(int fd, uint16_t port)
{
    pcap_t* dead = pcap_open_dead(DLT_RAW, 65535);
    if (!dead)
        return false;
    bpf_program program{};
    const std::string expression = "tcp port " + std::to_string(port);
    bool ok = pcap_compile(dead, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (ok) {
        sock_fprog kernel{};
        kernel.len = static_cast<unsigned short>(program.bf_len);
        kernel.filter = reinterpret_cast<sock_filter*>(program.bf_insns);
        ok = setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &kernel, sizeof kernel) == 0;
        pcap_freecode(&program);
    }
    pcap_close(dead);
    return ok;
}

ChecksumStatus StatusOf(uint32_t tpStatus)
{
    if (tpStatus & TP_STATUS_CSUMNOTREADY)
        return ChecksumStatus::Unverifiable;
    if (tpStatus & TP_STATUS_CSUM_VALID)
        return ChecksumStatus::Verified;
    return ChecksumStatus::Unknown;
}

}  // namespace

PacketCapture::PacketCapture(QObject* parent) : QObject(parent) {}

PacketCapture::~PacketCapture()
{
    Close();
}

const char* PacketCapture::Message(Code code)
{
    switch (code) {
    case FailSocket:
        return "Error at start capture. Fail socket.";
    case FailRing:
        return "Error at start capture. Fail wsaioctl.";
    case FailBind:
        return "Error at start capture. Fail bind.";
    case OutOfTable:
        return "Error at start capture. Set out of IPtable range.";
    case Loopback:
        return "Error at start capture. Set loopback address.";
    case Running:
        break;
    }
    return "";
}

Status PacketCapture::Start(int interfaceNumber, uint16_t port, Handler h)
{
    if (const Code code = Open(interfaceNumber, port, std::move(h)); code != Running)
        return Failure{Message(code)};
    return {};
}

PacketCapture::Code PacketCapture::Open(int interfaceNumber, uint16_t port, Handler h)
{
    Close();

    // Protocol 0 until bound: the socket hears nothing of other interfaces meanwhile.
    fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return FailSocket;

    const std::vector<uint32_t> table = InterfaceAddresses();
    if (interfaceNumber < 0 || static_cast<size_t>(interfaceNumber) >= table.size()) {
        Close();
        return OutOfTable;
    }
    const uint32_t address = table[static_cast<size_t>(interfaceNumber)];
    if (IsLoopback(address)) {
        Close();
        return Loopback;
    }

    int version = TPACKET_V3;
    tpacket_req3 request{};
    request.tp_block_size = kBlockSize;
    request.tp_block_nr = kBlockCount;
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = kBlockSize / kFrameSize * kBlockCount;
    request.tp_retire_blk_tov = kBlockTimeoutMs;
    if (!AttachPortFilter(fd, port) ||
        setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0 ||
        setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) {
        Close();
        return FailRing;
    }
    ringSize = static_cast<size_t>(kBlockSize) * kBlockCount;
    void* map = mmap(nullptr, ringSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_LOCKED, fd, 0);
    if (map == MAP_FAILED)
        map = mmap(nullptr, ringSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        ringSize = 0;
        Close();
        return FailRing;
    }
    ring = static_cast<uint8_t*>(map);
    currentBlock = 0;

    std::optional<int> index = InterfaceIndexOf(address);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = index.value_or(0);
    if (!index || ::bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        Close();
        return FailBind;
    }

    handler = std::move(h);
    counters = {};
    dropsTaken = 0;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PacketCapture::OnReadable);
    return Running;
}

void PacketCapture::Stop()
{
    Close();
}

void PacketCapture::Close()
{
    ++generation;
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
        notifier = nullptr;
    }
    if (ring) {
        munmap(ring, ringSize);
        ring = nullptr;
        ringSize = 0;
    }
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void PacketCapture::ReadStatistics()
{
    if (fd < 0)
        return;
    tpacket_stats_v3 stats{};
    socklen_t length = sizeof stats;
    // The kernel resets its figures at each read: they are summed here.
    if (getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) == 0) {
        counters.packets += stats.tp_packets;
        counters.drops += stats.tp_drops;
    }
}

uint64_t PacketCapture::TakeDrops()
{
    ReadStatistics();
    const uint64_t since = counters.drops - dropsTaken;
    dropsTaken = counters.drops;
    return since;
}

void PacketCapture::OnReadable()
{
    // Every block the kernel has handed over, in ring order; each frame of a block in order.
    const unsigned started = generation;
    for (;;) {
        auto* block = reinterpret_cast<tpacket_block_desc*>(ring + static_cast<size_t>(currentBlock) *
                                                                       kBlockSize);
        if (!(__atomic_load_n(&block->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER))
            return;
        const tpacket_hdr_v1& bh = block->hdr.bh1;
        auto* frame = reinterpret_cast<uint8_t*>(block) + bh.offset_to_first_pkt;
        for (uint32_t i = 0; i < bh.num_pkts; ++i) {
            const auto* hdr = reinterpret_cast<const tpacket3_hdr*>(frame);
            const auto* link = reinterpret_cast<const sockaddr_ll*>(
                frame + TPACKET_ALIGN(sizeof(tpacket3_hdr)));
            if (link->sll_protocol == htons(ETH_P_IP) && link->sll_pkttype != PACKET_LOOPBACK) {
                if (hdr->tp_snaplen < hdr->tp_len)
                    ++counters.truncated;
                ++counters.delivered;
                if (handler)
                    handler(frame + hdr->tp_mac, hdr->tp_snaplen, StatusOf(hdr->tp_status));
                if (generation != started)
                    return;  // the handler stopped or restarted the capture
            }
            frame += hdr->tp_next_offset;
        }
        __atomic_store_n(&block->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        currentBlock = (currentBlock + 1) % kBlockCount;
    }
}

}  // namespace zpmoni
