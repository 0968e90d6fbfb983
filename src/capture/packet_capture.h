// SPDX-License-Identifier: MIT
#pragma once

#include "capture/decoder.h"

#include <QObject>

#include <cstdint>
#include <functional>

class QSocketNotifier;

namespace zpmoni {


// Reads every IPv4 datagram to or from the server's port on one interface, in both directions,
// from a packet socket's receive ring on the event loop, and hands each to a handler.
class PacketCapture final : public QObject {
    Q_OBJECT
public:
    // Start codes; each other than Running has its error-log message.
    enum Code {
        Running = 0,
        FailSocket = 1,
        FailRing = 2,
        FailBind = 3,
        OutOfTable = 5,
        Loopback = 6,
    };
    using Handler = std::function<void(const uint8_t* datagram, size_t length, ChecksumStatus)>;

    static constexpr unsigned kBlockSize = 1u << 22;  // 4 MiB
    static constexpr unsigned kBlockCount = 8;
    static constexpr unsigned kFrameSize = 1u << 17;  // holds a 64 KiB GRO datagram whole
    static constexpr unsigned kBlockTimeoutMs = 10;

    explicit PacketCapture(QObject* parent = nullptr);
    ~PacketCapture() override;

    // Captures on the interface that holds entry n of the interface address table, for the
    // datagrams whose transport header carries `port`.
    Code Start(int interfaceNumber, uint16_t port, Handler handler);
    void Stop();
    bool IsRunning() const { return fd >= 0; }

    static const char* Message(Code code);

    struct Counters {
        uint64_t packets = 0;   // seen by the kernel for this socket
        uint64_t drops = 0;     // lost for want of room in the ring
        uint64_t delivered = 0; // handed to the handler
        uint64_t truncated = 0; // handed over cut (larger than a frame)
    };
    // The kernel's figures (packets, drops) are added when ReadStatistics() asks for them.
    const Counters& Statistics() const { return counters; }
    void ReadStatistics();

private:
    void OnReadable();
    void Close();

    Handler handler;
    int fd = -1;
    uint8_t* ring = nullptr;
    size_t ringSize = 0;
    unsigned currentBlock = 0;
    unsigned generation = 0;  // counts closes, so a reader can tell its ring is gone
    QSocketNotifier* notifier = nullptr;
    Counters counters;
};

}  // namespace zpmoni
