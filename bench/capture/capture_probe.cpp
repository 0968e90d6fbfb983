// SPDX-License-Identifier: MIT
// The monitor's capture alone on an event loop, for the capture benchmark: runs PacketCapture on an
// interface for a while (or until SIGINT/SIGTERM) and reports what it saw and what it cost.
//
//   capture_probe [--interface N] [--port P] [--seconds S]
//
// Prints one line of key=value pairs: delivered, kernel_packets, kernel_drops, truncated,
// cpu_user, cpu_sys (seconds, the whole process), start_cpu (of those, spent up to the end of
// Start: the program's and the ring's set-up), capture_cpu (seconds from the end of Start to the
// end of capture, to the nanosecond), voluntary_switches (times it slept and was woken while
// capturing: about one per ring wake-up).
#include "capture/packet_capture.h"
#include "platform/termination_signals.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace zpmoni;

namespace {

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// CPU time of the whole process to the nanosecond (rusage counts in scheduler ticks).
double ProcessCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv)
{
    int interfaceNumber = 0;
    int port = 7915;
    double seconds = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--interface")
            interfaceNumber = std::atoi(argv[i + 1]);
        else if (a == "--port")
            port = std::atoi(argv[i + 1]);
        else if (a == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: capture_probe [--interface N] [--port P] [--seconds S]\n");
            return 2;
        }
    }

    QCoreApplication app(argc, argv);
    if (!QuitOnTerminationSignals())
        return 1;

    // Reads each datagram's header as the decoder's first steps do, so that the ring's pages are
    // really touched.
    uint64_t headerBytes = 0;
    PacketCapture capture;
    const Status started = capture.Start(
        interfaceNumber, static_cast<uint16_t>(port),
        [&](const uint8_t* data, size_t length, ChecksumStatus) {
            if (length >= 20)
                headerBytes += static_cast<uint64_t>((data[2] << 8) | data[3]) + (data[0] & 0x0F);
        });
    if (!started) {
        std::fprintf(stderr, "capture_probe: %s\n", started.error().c_str());
        return 1;
    }
    rusage atStart{};
    getrusage(RUSAGE_SELF, &atStart);
    const double cpuAtStart = ProcessCpu();
    std::fprintf(stderr, "capture_probe: capturing\n");
    if (seconds > 0)
        QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [] { QCoreApplication::quit(); });
    app.exec();

    capture.ReadStatistics();
    const PacketCapture::Counters c = capture.Statistics();
    const double capturing = ProcessCpu() - cpuAtStart;
    capture.Stop();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("delivered=%llu kernel_packets=%llu kernel_drops=%llu truncated=%llu "
                "cpu_user=%.3f cpu_sys=%.3f start_cpu=%.3f capture_cpu=%.6f "
                "voluntary_switches=%ld header_bytes=%llu\n",
                static_cast<unsigned long long>(c.delivered),
                static_cast<unsigned long long>(c.packets),
                static_cast<unsigned long long>(c.drops),
                static_cast<unsigned long long>(c.truncated), Seconds(usage.ru_utime),
                Seconds(usage.ru_stime), Seconds(atStart.ru_utime) + Seconds(atStart.ru_stime),
                capturing, usage.ru_nvcsw - atStart.ru_nvcsw, static_cast<unsigned long long>(headerBytes));
    return 0;
}
