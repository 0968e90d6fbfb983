// SPDX-License-Identifier: MIT
// The operator console's cost. As Google Benchmarks: the metrics text alone, and a whole
// /metrics scrape over loopback against a console on its own thread. With --load: the server
// side's CPU share and memory while live WebSocket clients (in a child process, so only the
// server is measured) follow 200 events a second and the status and players messages every
// second, next to the same run without console and clients.
#include "web/metrics_text.h"
#include "web/operators.h"
#include "web/web_console.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

using namespace zpmoni;

namespace {

constexpr int kPlayers = 24;
constexpr size_t kEventsKept = 2000;

// A monitor of 24 players with a full event list; every answer in the API's shape.
class SyntheticBackend final : public ConsoleBackend {
public:
    SyntheticBackend()
    {
        for (size_t i = 0; i < kEventsKept; ++i)
            AddEvent(1796600000 + int64_t(i));
    }

    QJsonObject AddEvent(int64_t now)
    {
        static const char* kinds[] = {"logon", "join", "leave", "logoff", "other"};
        const uint64_t seq = ++lastEvent;
        const int pilot = int(seq % kPlayers);
        const QJsonObject event{
            {"seq", qint64(seq)},
            {"time", qint64(now)},
            {"kind", kinds[seq % 5]},
            {"text", QStringLiteral("2026/12/08 01:%1:%2 pilot%3 (198.51.100.%4) joined with F-15C from RWY 27L")
                         .arg(seq / 60 % 60, 2, 10, QChar('0'))
                         .arg(seq % 60, 2, 10, QChar('0'))
                         .arg(pilot)
                         .arg(10 + pilot)},
        };
        events.push_back(event);
        if (events.size() > kEventsKept)
            events.pop_front();
        return event;
    }

    QJsonObject Status() override
    {
        return QJsonObject{
            {"time", qint64(std::time(nullptr))},
            {"statusLine", "Online 24 / Flying 18  In 2100 B/s  Out 8400 B/s  Server running (pid 4242)"},
            {"server", QJsonObject{{"supervised", true}, {"running", true}, {"pid", 4242},
                                   {"upSince", 1796598000}, {"lastRestart", 1796590000},
                                   {"lastRestartCause", "schedule"}}},
            {"players", QJsonObject{{"online", kPlayers}, {"flying", 18}}},
            {"rates", QJsonObject{{"bytesInPerSecond", 2100}, {"bytesOutPerSecond", 8400}}},
            {"glimit", QJsonObject{{"enabled", true}, {"connected", true}, {"min", -4.0}, {"max", 9.0}}},
            {"client", QJsonObject{{"started", true}, {"connected", true}}},
            {"capture", QJsonObject{{"running", true}, {"drops", 0}}},
            {"bans", QJsonObject{{"entries", 2}, {"installed", true}}},
            {"next", QJsonArray{QJsonObject{{"time", 1796605200}, {"action", "restart"}}}},
        };
    }
    QJsonObject Rates() override
    {
        QJsonArray samples;
        for (int i = 0; i < 360; ++i)
            samples.append(QJsonObject{{"time", 1796598000 + i * 10}, {"in", 2100 + i}, {"out", 8400 + i}});
        return {{"interval", 10}, {"samples", samples}};
    }
    QJsonArray Players() override
    {
        QJsonArray players;
        for (int i = 0; i < kPlayers; ++i) {
            const bool flying = i % 4 != 0;
            players.append(QJsonObject{
                {"user", QStringLiteral("pilot%1").arg(i)},
                {"aircraft", flying ? "F-15C" : ""},
                {"address", QStringLiteral("198.51.100.%1").arg(10 + i)},
                {"port", 51000 + i},
                {"host", QStringLiteral("host%1.example").arg(i)},
                {"logon", 1796600000 + i},
                {"flying", flying},
                {"bytesIn", 123456 + i},
                {"bytesOut", 654321 + i},
                {"rateIn", 210},
                {"rateOut", 840},
            });
        }
        return players;
    }
    QJsonObject Events(uint64_t since) override
    {
        QJsonArray out;
        for (const QJsonObject& e : events) {
            if (uint64_t(e.value("seq").toInteger()) > since)
                out.append(e);
        }
        return {{"last", qint64(lastEvent)}, {"events", out}};
    }
    QJsonObject Chat(uint64_t) override { return {{"last", 0}, {"chat", QJsonArray()}}; }
    QJsonObject Bans() override { return {{"installed", true}, {"bans", QJsonArray()}}; }
    QJsonObject Server() override { return {{"server", Status().value("server")}, {"schedule", QJsonArray()}, {"log", QJsonArray()}}; }
    MetricsSnapshot Metrics() override
    {
        MetricsSnapshot m;
        m.playersOnline = kPlayers;
        m.playersFlying = 18;
        m.datagramsIn = 912345678;
        m.datagramsOut = 812345678;
        m.bytesIn = 91234567890;
        m.bytesOut = 81234567890;
        m.captureDrops = 12;
        m.serverUp = true;
        m.restartsByCause = {{"schedule", 31}, {"crash", 2}};
        m.damageSent = 40;
        m.bansInForce = 2;
        m.clientConnected = true;
        return m;
    }
    zpmoni::Status Perform(std::string_view, const ConsoleAction&) override { return {}; }

    uint64_t lastEvent = 0;

private:
    std::deque<QJsonObject> events;
};

// A folder with an operators.txt of one admin, removed at the end; the admin's token.
struct OperatorFolder {
    OperatorFolder()
    {
        char name[] = "/tmp/zpmoni-bench-XXXXXX";
        if (!::mkdtemp(name)) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path = name;
        Result<std::string> made = NewToken();
        if (!made) {
            std::fprintf(stderr, "%s\n", made.error().c_str());
            std::exit(1);
        }
        token = made.value();
        const std::string line = "bench admin " + HashToken(token) + "\n";
        const int fd = ::open((path + "/operators.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, line.data(), line.size()) != ssize_t(line.size())) {
            std::perror("operators.txt");
            std::exit(1);
        }
        ::close(fd);
    }
    ~OperatorFolder()
    {
        ::unlink((path + "/operators.txt").c_str());
        ::rmdir(path.c_str());
    }
    std::string path;
    std::string token;
};

WebConsole::Links QuietLinks()
{
    WebConsole::Links links;
    links.errorLog = [](std::string_view line) {
        std::fprintf(stderr, "console: %.*s\n", int(line.size()), line.data());
    };
    return links;
}

void BM_MetricsText(benchmark::State& state)
{
    SyntheticBackend backend;
    const MetricsSnapshot m = backend.Metrics();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = MetricsText(m, 20, ZPMONI_VERSION);
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_MetricsText);

// One HTTP/1.1 connection kept open; answers read by their Content-Length.
class HttpClient {
public:
    explicit HttpClient(uint16_t port) : port(port) {}
    ~HttpClient() { Close(); }

    // The body of a 200 answer; empty on anything else.
    std::string Get(const std::string& request)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (fd < 0 && !Connect())
                return {};
            if (SendAll(request)) {
                std::string body;
                if (ReadAnswer(body))
                    return body;
            }
            Close();  // the server closed a kept connection: once more on a new one
        }
        return {};
    }
    int connects = 0;

private:
    bool Connect()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++connects;
        buffer.clear();
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            Close();
            return false;
        }
        return true;
    }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool SendAll(std::string_view data)
    {
        while (!data.empty()) {
            const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data.remove_prefix(size_t(n));
        }
        return true;
    }
    bool Fill()
    {
        char chunk[16384];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, size_t(n));
        return buffer.size() < (size_t(1) << 22);
    }
    bool ReadAnswer(std::string& body)
    {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!Fill())
                return false;
        }
        const std::string head = buffer.substr(0, end);
        size_t length = 0;
        for (const char* key : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
            const size_t at = head.find(key);
            if (at != std::string::npos)
                length = std::strtoul(head.c_str() + at + std::strlen(key), nullptr, 10);
        }
        while (buffer.size() < end + 4 + length) {
            if (!Fill())
                return false;
        }
        body = head.rfind("HTTP/1.1 200", 0) == 0 ? buffer.substr(end + 4, length) : std::string();
        buffer.erase(0, end + 4 + length);
        return true;
    }

    uint16_t port;
    int fd = -1;
    std::string buffer;
};

// A whole scrape as Prometheus makes it: bearer token, kept connection, the console's own
// thread answering. Reports scrapes per second.
void BM_MetricsScrape(benchmark::State& state)
{
    OperatorFolder folder;
    SyntheticBackend backend;
    QThread thread;
    thread.start();
    QObject context;  // lives on the console's thread; deleted here once that thread has ended
    context.moveToThread(&thread);
    std::unique_ptr<WebConsole> console;
    uint16_t port = 0;
    QMetaObject::invokeMethod(&context, [&] {
        console = std::make_unique<WebConsole>(backend, folder.path, QuietLinks());
        WebOptions options;
        options.enable = true;
        options.listen = "127.0.0.1:0";
        if (console->Start(options))
            port = console->Port();
    }, Qt::BlockingQueuedConnection);

    if (port == 0) {
        state.SkipWithError("the console did not start");
    } else {
        HttpClient client(port);
        const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nAuthorization: Bearer " + folder.token + "\r\nAccept: text/plain\r\n\r\n";
        const std::string first = client.Get(request);
        if (first.find("zpmoni_build_info{") == std::string::npos) {
            state.SkipWithError("the scrape did not answer the metrics");
        } else {
            size_t bytes = 0;
            for (auto _ : state) {
                const std::string body = client.Get(request);
                if (body.empty()) {
                    state.SkipWithError("a scrape failed");
                    break;
                }
                bytes += body.size();
            }
            state.SetBytesProcessed(int64_t(bytes));
            state.counters["connections"] = client.connects;
        }
    }
    QMetaObject::invokeMethod(&context, [&] { console.reset(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}
BENCHMARK(BM_MetricsScrape)->UseRealTime();

// ---- --load: the server side under live clients ----

struct Usage {
    double cpuSeconds = 0;
    double wallSeconds = 0;
};

double CpuSeconds()
{
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// VmRSS and VmHWM of this process in KiB.
std::pair<long, long> Memory()
{
    std::ifstream in("/proc/self/status");
    long rss = 0, hwm = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            rss = std::atol(line.c_str() + 6);
        else if (line.rfind("VmHWM:", 0) == 0)
            hwm = std::atol(line.c_str() + 6);
    }
    return {rss, hwm};
}

pid_t Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

int WaitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// The live clients: `count` WebSockets with the bearer token, counting what they get, until
// the server closes them (or a minute past the run's end).
int RunClients(int argc, char** argv)
{
    if (argc != 7)
        return 2;
    QCoreApplication app(argc, argv);
    const uint16_t port = uint16_t(std::atoi(argv[2]));
    const std::string token = argv[3];
    const int count = std::atoi(argv[4]);
    const int seconds = std::atoi(argv[5]);
    const std::string since = argv[6];
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    int open = 0, closed = 0;
    uint64_t messages = 0, bytes = 0;
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<QWebSocket>();
        QObject::connect(socket.get(), &QWebSocket::connected, [&] { ++open; });
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [&](const QString& text) {
            ++messages;
            bytes += uint64_t(text.size());
        });
        QObject::connect(socket.get(), qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                         [s = socket.get()](QAbstractSocket::SocketError e) {
            if (e != QAbstractSocket::RemoteHostClosedError)  // the end of the run
                std::fprintf(stderr, "  client: %s\n", qPrintable(s->errorString()));
        });
        QObject::connect(socket.get(), &QWebSocket::disconnected, [&] {
            if (++closed == count)
                app.quit();
        });
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/live?events=%2&chat=0")
                                         .arg(port)
                                         .arg(QString::fromStdString(since))));
        request.setRawHeader("Authorization", QByteArray("Bearer ") + token.c_str());
        socket->open(request);
        sockets.push_back(std::move(socket));
    }
    QTimer::singleShot((seconds + 60) * 1000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("  clients: %d of %d connected, %.0f messages and %.2f MB received each\n", open, count,
                double(messages) / count, double(bytes) / 1e6 / count);
    return open == count ? 0 : 1;
}

// One measured run: with the console, `clients` live clients in a child process; without it,
// the same events into the backend and nothing else.
int RunPhase(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const bool withConsole = std::strcmp(argv[2], "on") == 0;
    const int seconds = std::atoi(argv[3]);
    const int clients = std::atoi(argv[4]);
    const int rate = std::atoi(argv[5]);
    QCoreApplication app(argc, argv);
    SyntheticBackend backend;
    OperatorFolder folder;
    std::unique_ptr<WebConsole> console;
    pid_t child = -1;
    if (withConsole) {
        console = std::make_unique<WebConsole>(backend, folder.path, QuietLinks());
        WebOptions options;
        options.enable = true;
        options.listen = "127.0.0.1:0";
        if (!console->Start(options))
            return 1;
        child = Spawn({"console_bench", "--load-clients", std::to_string(console->Port()), folder.token,
                       std::to_string(clients), std::to_string(seconds), std::to_string(backend.lastEvent)});
        if (child < 0)
            return 1;
        QElapsedTimer waited;
        waited.start();
        while (console->LiveClients() < size_t(clients) && waited.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (console->LiveClients() < size_t(clients)) {
            std::fprintf(stderr, "only %zu of %d clients connected\n", console->LiveClients(), clients);
            console.reset();
            WaitFor(child);
            return 1;
        }
    }

    QElapsedTimer clock;
    uint64_t published = 0;
    QTimer events;
    events.setTimerType(Qt::PreciseTimer);
    QObject::connect(&events, &QTimer::timeout, [&] {
        const uint64_t due = uint64_t(clock.elapsed()) * uint64_t(rate) / 1000;
        for (; published < due; ++published) {
            const QJsonObject event = backend.AddEvent(std::time(nullptr));
            if (console)
                console->Publish({{"type", "event"}, {"event", event}});
        }
    });
    QTimer second;
    QObject::connect(&second, &QTimer::timeout, [&] {
        if (console) {
            console->Publish({{"type", "status"}, {"status", backend.Status()}});
            console->Publish({{"type", "players"}, {"players", backend.Players()}});
        }
    });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    const double cpuBefore = CpuSeconds();
    clock.start();
    events.start(5);
    second.start(1000);
    app.exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = double(clock.elapsed()) / 1000;
    const auto [rss, hwm] = Memory();
    const size_t live = console ? console->LiveClients() : 0;
    std::printf("console %-3s: %.1f s, %llu events published, %zu live clients at the end; CPU %.2f s = %.2f %% of "
                "one core; VmRSS %.1f MiB (peak %.1f MiB)\n",
                withConsole ? "on" : "off", wall, static_cast<unsigned long long>(published), live, cpu,
                100 * cpu / wall, double(rss) / 1024, double(hwm) / 1024);
    std::fflush(stdout);
    if (console) {
        console.reset();  // closes the sockets: the clients report and end
        return WaitFor(child) == 0 && live == size_t(clients) ? 0 : 1;
    }
    return 0;
}

int RunLoad(int argc, char** argv)
{
    int seconds = 30, clients = 20, rate = 200;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--seconds")
            seconds = value;
        else if (key == "--clients")
            clients = value;
        else if (key == "--rate")
            rate = value;
        else
            return 2;
    }
    if (seconds <= 0 || clients <= 0 || rate <= 0)
        return 2;
    int failed = 0;
    for (const char* phase : {"off", "on"}) {
        const pid_t pid = Spawn({"console_bench", "--load-phase", phase, std::to_string(seconds),
                                 std::to_string(clients), std::to_string(rate)});
        failed |= pid < 0 ? 1 : WaitFor(pid);
    }
    return failed;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--load") == 0)
        return RunLoad(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--load-phase") == 0)
        return RunPhase(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--load-clients") == 0)
        return RunClients(argc, argv);
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
