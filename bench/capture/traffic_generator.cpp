// SPDX-License-Identifier: MIT
// Paced UDP load for the capture benchmark: air-state-sized datagrams to the server's port and,
// beside them, datagrams to another port that the capture filter must throw away.
//
//   capture_traffic --dst 198.51.100.1 [--port 7915] --rate N [--other-port 9] [--other-rate M]
//                   [--seconds S]
//
// Prints one line: "sent GAME OTHER seconds ELAPSED". Only 198.51.100.0/24 is accepted as
// destination: the load belongs on a test link of our own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>


namespace {

constexpr size_t kBatch = 64;

struct Options {
    std::string dst = "198.51.100.1";
    int port = 7915;
    double rate = 50000;
    int otherPort = 9;
    double otherRate = 0;
    double seconds = 5;
};

double Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A stream of datagrams to one address and port, sent in sendmmsg batches.
class Flow {
public:
    // Not connected: the port unreachable replies would otherwise fail later sends.
    Flow(const sockaddr_in& to, bool varySize) : to(to), varySize(varySize)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            std::perror("capture_traffic: socket");
            std::exit(1);
        }
        int size = 4 << 20;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        // An air state: 32-bit length and type, then the body; 60 to 120 bytes in all.
        for (size_t i = 0; i < kBatch; ++i) {
            auto& p = payloads[i];
            p.fill(static_cast<uint8_t>(i));
            lengths[i] = varySize ? 60 + (i * 37) % 61 : 72;
            const uint32_t length = static_cast<uint32_t>(lengths[i] - 4);
            const uint32_t type = 11;
            std::memcpy(p.data(), &length, 4);
            std::memcpy(p.data() + 4, &type, 4);
            vectors[i] = {p.data(), lengths[i]};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &this->to;
            messages[i].msg_hdr.msg_namelen = sizeof this->to;
        }
    }
    ~Flow()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // Sends up to n datagrams; the number that went out.
    uint64_t Send(uint64_t n)
    {
        uint64_t sent = 0;
        while (sent < n) {
            const unsigned batch = static_cast<unsigned>(std::min<uint64_t>(kBatch, n - sent));
            const int r = ::sendmmsg(fd, messages.data(), batch, 0);
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                // ENOBUFS and the like: that datagram is lost; the step ends here.
                ++failures;
                break;
            }
            sent += static_cast<uint64_t>(r);
            if (static_cast<unsigned>(r) < batch)
                break;
        }
        total += sent;
        return sent;
    }

    uint64_t total = 0;
    uint64_t failures = 0;

private:
    int fd = -1;
    sockaddr_in to;
    bool varySize;
    std::array<std::array<uint8_t, 120>, kBatch> payloads{};
    std::array<size_t, kBatch> lengths{};
    std::array<iovec, kBatch> vectors{};
    std::array<mmsghdr, kBatch> messages{};
};

bool InTestNet(const in_addr& a)
{
    return (ntohl(a.s_addr) & 0xFFFFFF00u) == 0xC6336400u;  // 198.51.100.0/24
}

void Usage()
{
    std::fputs("usage: capture_traffic --dst ADDR [--port P] --rate N [--other-port P] "
               "[--other-rate N] [--seconds S]\n",
               stderr);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            Usage();
        const char* v = argv[++i];
        if (a == "--dst")
            o.dst = v;
        else if (a == "--port")
            o.port = std::atoi(v);
        else if (a == "--rate")
            o.rate = std::atof(v);
        else if (a == "--other-port")
            o.otherPort = std::atoi(v);
        else if (a == "--other-rate")
            o.otherRate = std::atof(v);
        else if (a == "--seconds")
            o.seconds = std::atof(v);
        else
            Usage();
    }
    sockaddr_in game{};
    game.sin_family = AF_INET;
    game.sin_port = htons(static_cast<uint16_t>(o.port));
    if (inet_pton(AF_INET, o.dst.c_str(), &game.sin_addr) != 1 || !InTestNet(game.sin_addr)) {
        std::fprintf(stderr, "capture_traffic: %s is not in 198.51.100.0/24\n", o.dst.c_str());
        return 2;
    }
    sockaddr_in other = game;
    other.sin_port = htons(static_cast<uint16_t>(o.otherPort));

    Flow gameFlow(game, true);
    Flow otherFlow(other, false);
    // Paced in 1 ms steps: each step sends what the rates owe up to now, so a late step catches up.
    const double start = Now();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        const double elapsed = std::min(Now() - start, o.seconds);
        const auto owedGame = static_cast<uint64_t>(std::floor(o.rate * elapsed));
        const auto owedOther = static_cast<uint64_t>(std::floor(o.otherRate * elapsed));
        // Interleaved in small slices, as two independent sources would be.
        while (gameFlow.total < owedGame || otherFlow.total < owedOther) {
            const uint64_t g = std::min<uint64_t>(kBatch, owedGame - std::min(owedGame, gameFlow.total));
            const uint64_t x = std::min<uint64_t>(kBatch, owedOther - std::min(owedOther, otherFlow.total));
            if ((g && gameFlow.Send(g) == 0) | (x && otherFlow.Send(x) == 0))
                break;
        }
        if (elapsed >= o.seconds)
            break;
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::printf("sent %llu %llu seconds %.3f failures %llu\n",
                static_cast<unsigned long long>(gameFlow.total),
                static_cast<unsigned long long>(otherFlow.total), Now() - start,
                static_cast<unsigned long long>(gameFlow.failures + otherFlow.failures));
    return 0;
}
