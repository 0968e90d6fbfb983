// SPDX-License-Identifier: MIT
#pragma once

#include "capture/capture_service.h"

#include <QObject>

#include <cstdint>
#include <functional>

class QSocketNotifier;

namespace zpmoni {


// Reads every IPv4 datagram to or from the server's port on one interface, in both directions,
// from a packet socket's receive ring on the event loop, and hands each to a handler.
class PacketCapture final : public QObject, public DatagramSource {
    Q_OBJECT
public:
    // Why a start failed; each has its error-log message.
    enum Code {
        Running = 0,
        FailSocket = 1,
        FailRing = 2,
        FailBind = 3,
        OutOfTable = 5,
        Loopback = 6,
    };
    static constexpr unsigned kBlockSize = 1u << 22;  // 4 MiB
    static constexpr unsigned kBlockCount = 8;
    static constexpr unsigned kFrameSize = 1u << 17;  // holds a 64 KiB GRO datagram whole
    static constexpr unsigned kBlockTimeoutMs = 10;

    explicit PacketCapture(QObject* parent = nullptr);
    ~PacketCapture() override;

    // A failure carries the message of its code.
    Status Start(int interfaceNumber, uint16_t port, Handler handler) override;
    void Stop() override;
    bool IsRunning() const override { return fd >= 0; }
    uint64_t TakeDrops() override;

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
    Code Open(int interfaceNumber, uint16_t port, Handler handler);
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
    uint64_t dropsTaken = 0;  // counters.drops at the last TakeDrops
};

}  // namespace zpmoni
