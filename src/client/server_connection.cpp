// SPDX-License-Identifier: MIT
#include "client/server_connection.h"

#include "base/clock.h"
#include "base/profile_store.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zpmoni {

ServerConnection::ServerConnection(QObject* parent) : QObject(parent)
{
    // Children, so they go wherever the object goes; precise, as a coarse timer may fire 5 %
    // early and keep-alives would come every 28.5 s.
    for (QTimer* timer : {&retryTimer, &keepAliveTimer, &hangTimer}) {
        timer->setParent(this);
        timer->setTimerType(Qt::PreciseTimer);
    }
    retryTimer.setInterval(kRetryMs);
    keepAliveTimer.setInterval(kKeepAliveMs);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        if (!connected)
            (void)Connect(serverAddress, serverPort, userName);  // a failure is told by Connect
    });
    connect(&keepAliveTimer, &QTimer::timeout, this,
            [this] { (void)SendPacket(PKT_KEEPALIVE, {}); });  // a failed send is told by Transmit
    hangTimer.setInterval(1000);
    connect(&hangTimer, &QTimer::timeout, this, &ServerConnection::OnHangTick);
}

void ServerConnection::WatchHang(const Clock& clock, int seconds, std::function<void(int)> hung)
{
    hangClock = &clock;
    onHung = std::move(hung);
    hang.Arm(seconds);
    hang.Reset();
    if (seconds > 0)
        hangTimer.start();
    else
        hangTimer.stop();
}

int64_t ServerConnection::NowMs() const
{
    return hangClock ? hangClock->MonotonicMs() : 0;
}

void ServerConnection::OnHangTick()
{
    const int64_t now = NowMs();
    switch (hang.Tick(now)) {
    case HangWatch::Verdict::Probe:
        // Log on afresh on a new connection: a living server answers that at once.
        CloseSocket();
        if (connected) {
            keepAliveTimer.stop();
            connected = false;
            OnDisconnected();
        }
        (void)Connect(serverAddress, serverPort, userName);  // a failure is told by Connect
        break;
    case HangWatch::Verdict::Hung:
        if (onHung)
            onHung(static_cast<int>(hang.SilentSeconds(now)));
        break;
    case HangWatch::Verdict::None:
        break;
    }
}

ServerConnection::~ServerConnection()
{
    if (connected)
        Disconnect();
    CloseSocket();
    if (store && version != 0)
        store->WriteInt("Zpconnect", "ZpVersion", static_cast<int32_t>(version));
}

void ServerConnection::Create(ProfileStore& s)
{
    store = &s;
    version = static_cast<uint32_t>(
        s.GetInt("Zpconnect", "ZpVersion", static_cast<int32_t>(wire::logon::kDefaultVersion)));
}

Status ServerConnection::Connect(uint32_t address, uint16_t port, std::string_view name)
{
    serverAddress = address;
    serverPort = port;
    userName = std::string(name.substr(0, 15));
    retryTimer.start();
    if (connected || userName.empty())
        return {};
    // An attempt still pending from the last tick is given up, not left open.
    CloseSocket();

    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return ConnectFailed(errno);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 && errno != EINPROGRESS) {
        // Refused at once: the same as a connect event with an error; the timer retries.
        const int error = errno;
        if (error == ECONNREFUSED)
            hang.Reset();
        CloseSocket();
        return ConnectFailed(error);
    }
    hang.Attempt(NowMs());
    connecting = true;
    readNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &ServerConnection::OnReadable);
    connect(writeNotifier, &QSocketNotifier::activated, this, &ServerConnection::OnWritable);
    return {};
}

Failure ServerConnection::ConnectFailed(int error)
{
    char address[INET_ADDRSTRLEN] = "?";
    const in_addr a{htonl(serverAddress)};
    ::inet_ntop(AF_INET, &a, address, sizeof address);
    return failures.Attempt(std::string(address) + ":" + std::to_string(serverPort), std::strerror(error),
                            error == ECONNREFUSED);
}

void ServerConnection::Disconnect()
{
    retryTimer.stop();
    hang.Reset();
    // Stopped on purpose: what failed before is over; the next start tells afresh.
    failures.Connected();
    if (connected) {
        ::shutdown(fd, SHUT_WR);
    } else {
        // Nothing to half-close: a pending attempt would otherwise log on after all.
        CloseSocket();
    }
}

void ServerConnection::OnWritable()
{
    if (connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        OnConnectResult(error);
        return;
    }
    FlushPending();
}

void ServerConnection::OnConnectResult(int error)
{
    connecting = false;
    if (error != 0) {
        // Nobody listens: down or starting, not hung. An attempt that timed out still waits.
        if (error == ECONNREFUSED)
            hang.Reset();
        CloseSocket();
        (void)ConnectFailed(error);  // told there; the retry timer tries again
        return;
    }
    failures.Connected();
    writeNotifier->setEnabled(false);
    connected = true;
    keepAliveTimer.start();
    ResetStream();
    pending.clear();
    (void)SendLogon(userName, version);  // a failed send is told by Transmit
    OnConnected();
}

void ServerConnection::OnReadable()
{
    if (connecting) {
        // A refused attempt can show as readable before it shows as writable.
        OnWritable();
        if (fd < 0 || !connected)
            return;
    }
    uint8_t buffer[8192];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        // Lost, as when the server goes away: the retry connects again and tells if it cannot.
        OnClose();
        return;
    }
    if (n > 0)
        hang.Heard(NowMs());
    else
        hang.Reset();  // the server closed the connection itself: it answers
    const Status received = OnReceive(buffer, static_cast<size_t>(n));
    if (!received)
        (void)failures.Stream(received.error());
    else if (n == 0)
        failures.ClosedInOrder();
    if (!received || n == 0)
        OnClose();
}

void ServerConnection::OnClose()
{
    CloseSocket();
    keepAliveTimer.stop();
    connected = false;
    OnDisconnected();
}

void ServerConnection::CloseSocket()
{
    // The notifiers may be the senders of the signal being handled: retire them, not delete.
    for (QSocketNotifier* n : {readNotifier, writeNotifier}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    readNotifier = writeNotifier = nullptr;
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
        fd = -1;
    }
    connecting = false;
    pending.clear();
}

Status ServerConnection::Transmit(const uint8_t* data, size_t size)
{
    // Not an episode: whoever sends while the connection is down is told so and decides.
    if (fd < 0 || !connected)
        return Failure{"not connected to the server"};
    if (!pending.empty()) {
        if (pending.size() + size > kPendingLimit)
            return failures.Send("the send queue is full (" + std::to_string(kPendingLimit) + " bytes)");
        pending.insert(pending.end(), data, data + size);
        return {};
    }
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return failures.Send(std::strerror(errno));
        n = 0;
    }
    if (static_cast<size_t>(n) < size) {
        pending.assign(data + n, data + size);
        writeNotifier->setEnabled(true);
    }
    failures.Sent();
    return {};
}

void ServerConnection::FlushPending()
{
    while (!pending.empty()) {
        ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            pending.clear();
            (void)failures.Send(std::strerror(errno));  // what was queued is lost, as a failed send's
            break;
        }
        pending.erase(pending.begin(), pending.begin() + n);
    }
    writeNotifier->setEnabled(false);
}

}  // namespace zpmoni
