// SPDX-License-Identifier: MIT
#pragma once

#include "client/client_protocol.h"
#include "client/connection_failures.h"
#include "client/server_connection_hang.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace zpmoni {

class Clock;
class ProfileStore;


// The monitor's own client connection to the server: connects, logs on, keeps the connection
// alive and connects again when it is lost. Runs on the event loop.
class ServerConnection : public QObject, public ClientProtocol {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 6000;       // RETRY_TIMER
    static constexpr int kKeepAliveMs = 30000;  // KEEPALIVE_TIMER

    explicit ServerConnection(QObject* parent = nullptr);
    ~ServerConnection() override;

    // Reads the protocol version; the store is where it goes back at destruction.
    virtual void Create(ProfileStore& store);
    // Address in host byte order. Fails with the cause when an attempt could not be started
    // (the retry timer tries again); succeeds when one was started or none was needed.
    Status Connect(uint32_t address, uint16_t port, std::string_view name);
    // Stops retrying and closes the sending direction; connected until the server closes.
    void Disconnect();
    bool IsConnected() const { return connected; }
    // Watches for a hung server (seconds 0: off); onHung gets the seconds of silence, once per
    // hang.
    void WatchHang(const Clock& clock, int seconds, std::function<void(int)> onHung);
    // Where failures go, each once per episode (see ConnectionFailures).
    void SetFailureReport(std::function<void(std::string_view)> report) { failures.SetReport(std::move(report)); }

    uint32_t version = 0;
    bool chatLogFlag = false;

protected:
    Status Transmit(const uint8_t* data, size_t size) override;
    virtual void OnConnected() {}
    virtual void OnDisconnected() {}

private:
    void OnReadable();
    void OnWritable();
    void OnConnectResult(int error);
    // An attempt that failed with errno `error`; the cause, also told once per episode.
    Failure ConnectFailed(int error);
    void OnClose();
    void CloseSocket();
    void FlushPending();
    void OnHangTick();
    int64_t NowMs() const;

    ProfileStore* store = nullptr;
    uint32_t serverAddress = 0;
    uint16_t serverPort = 0;
    std::string userName;
    bool connected = false;
    bool connecting = false;
    int fd = -1;
    QSocketNotifier* readNotifier = nullptr;
    QSocketNotifier* writeNotifier = nullptr;
    QTimer retryTimer;
    QTimer keepAliveTimer;
    QTimer hangTimer;
    HangWatch hang;
    const Clock* hangClock = nullptr;
    std::function<void(int)> onHung;
    ConnectionFailures failures;
    // What a non-blocking send could not take yet; bounded, beyond it packets are lost as a
    // failed send would lose them.
    std::vector<uint8_t> pending;
    static constexpr size_t kPendingLimit = 256 * 1024;
};

}  // namespace zpmoni
