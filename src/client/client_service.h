// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/result.h"
#include "client/chat_relay.h"
#include "client/glimit_client.h"
#include "client/glimit_values.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zpmoni {

class ProfileStore;

// How the client runs, as values: where the server listens, whether the G limiter logs on, and
// the chat log and hang watch.
struct ClientOptions {
    bool glimit = false;
    bool chatLog = false;
    uint32_t address = 0;  // host byte order
    uint16_t port = 0;
    int hangSeconds = 0;  // 0: no hang watch
};

// What the client is doing now.
struct ClientState {
    bool started = false;    // the connection exists (from Start to Stop)
    bool glimit = false;     // the G limiter is on: the connection logs on
    bool connected = false;  // logged on to the server
    std::string userName;    // the name that announces the G range
};

// The monitor's client: its connection to the server, the G limiter on it and the chat relay.
// The operator's operations are plain methods; failures go to the error log, each once per
// episode, and come back as results.
class ClientService {
public:
    using Report = std::function<void(std::string_view message)>;

    // The connection and its timers live under `parent` when one is given.
    ClientService(ChatView& view, std::string workdir, const Clock& clock, Report errorLog, QObject* parent = nullptr);
    ~ClientService();
    ClientService(const ClientService&) = delete;
    ClientService& operator=(const ClientService&) = delete;

    // Creates the connection, which reads its protocol version and the limits from the store
    // (the version goes back there at Stop), and connects when the G limiter is on. A failed
    // attempt is in the error log and tried again every few seconds.
    void Start(ProfileStore& store, const ClientOptions& options, std::function<void(int seconds)> onHung);
    // Closes the connection and writes its protocol version.
    void Stop();
    // Told of each G-limit damage sent; set before Start.
    std::function<void(uint32_t aircraftId, std::string_view pilot, uint16_t amount)> onDamage;

    // Logs on under the limit name at the options' address; fails when the G limiter is off,
    // the client is not started, or no attempt could be started.
    Status Connect();
    // Stops retrying and closes the connection (the server's close ends it).
    void Disconnect();
    // Drops the connection and, with logOn, connects again at the port; the new log-on takes
    // effect once the old connection is closed, as with any retry.
    Status Reconnect(bool logOn, uint32_t address, uint16_t port);
    ClientState State() const;
    // A chat line to the server as the text alone; fails when not logged on or not sent.
    Status SendChat(std::string_view text);

    // Chat the capture read off the wire: shown unless the connection delivers it.
    void OnCapturedChat(std::string_view text) { chat.OnCapturedChat(text); }
    // Which road the chat takes, and whether it is logged.
    void SetChatOptions(bool glimit, bool chatLog);

    // The limits, the damage interval and the protocol version in force (the G limiter switch
    // is the options').
    GlimitValues Glimit() const;
    // Chat-log lines that could not be written in this run.
    uint64_t ChatLogFailures() const { return chat.logFailure.Failures(); }
    // Takes over the sheet's limits, interval and protocol version, and saves the limits.
    void ApplyGlimit(const GlimitValues& values, bool chatLog);

private:
    ChatRelay chat;
    const Clock& clock;
    Report errorLog;
    ProfileStore* store = nullptr;
    QObject* parent;
    ClientOptions options;
    std::unique_ptr<GLimitClient> connection;
};

}  // namespace zpmoni
