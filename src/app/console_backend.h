// SPDX-License-Identifier: MIT
#pragma once

#include "base/monitor_settings.h"
#include "capture/player_table.h"
#include "web/console_backend.h"
#include "web/web_console.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

class MonitorApp;
class MonitorController;

// The [Web] settings as the console takes them.
WebOptions WebOptionsOf(const MonitorSettings& s);

// What a daily-log line tells of, from the text after its time stamp.
enum class EventKind : uint8_t { Logon, Logoff, Join, Leave, Ban, Server, Other };
EventKind ClassifyEventLine(std::string_view text);
std::string_view EventKindName(EventKind kind);

// Lines kept for the console, each with its sequence number (from 1, never reused in a run);
// the oldest go beyond `capacity`.
struct ConsoleLine {
    uint64_t seq = 0;
    int64_t time = 0;
    EventKind kind = EventKind::Other;
    std::string text;
};
class LineRing {
public:
    explicit LineRing(size_t capacity) : capacity(capacity) {}
    const ConsoleLine& Add(int64_t time, EventKind kind, std::string text);
    // The lines after `since`, oldest first, as far as they are still held.
    template <class F>
    void After(uint64_t since, F&& each) const
    {
        for (const ConsoleLine& l : lines)
            if (l.seq > since)
                each(l);
    }
    uint64_t Last() const { return next - 1; }
    size_t Size() const { return lines.size(); }

private:
    size_t capacity;
    std::deque<ConsoleLine> lines;
    uint64_t next = 1;
};

// Bytes per second in and out, one sample per `interval` seconds averaged over the status
// ticks within it, at most `capacity` samples.
class RatesRing {
public:
    struct Sample {
        int64_t time = 0;  // the end of its interval
        uint64_t in = 0;
        uint64_t out = 0;
        bool operator==(const Sample&) const = default;
    };
    static constexpr int64_t kInterval = 10;
    static constexpr size_t kCapacity = 360;

    // One tick's rates at `now`.
    void Add(int64_t now, double inPerSecond, double outPerSecond);
    const std::deque<Sample>& Samples() const { return samples; }

private:
    std::deque<Sample> samples;
    int64_t periodStart = 0;
    double sumIn = 0, sumOut = 0;
    int ticks = 0;
};

// The monitor as the operator console sees it: answers from the application's services, and the
// event, chat and supervisor lines and the rates it keeps for the console since the start.
class MonitorConsoleBackend final : public QObject, public ConsoleBackend {
    Q_OBJECT
public:
    static constexpr size_t kEventLines = 2000;
    static constexpr size_t kChatLines = 500;
    static constexpr size_t kServerLines = 200;

    // Starts observing the daily log, after reading the last day of it from the Log folder.
    MonitorConsoleBackend(MonitorApp& app, MonitorController& controller, QObject* parent = nullptr);
    ~MonitorConsoleBackend() override;

    QJsonObject Status() override;
    QJsonObject Rates() override;
    QJsonArray Players() override;
    QJsonObject Events(uint64_t since) override;
    QJsonObject Chat(uint64_t since) override;
    QJsonObject Bans() override;
    QJsonObject Server() override;
    MetricsSnapshot Metrics() override;
    zpmoni::Status Perform(std::string_view who, const ConsoleAction& action) override;

    // Where live messages go (the console's Publish); none until set.
    std::function<void(const QJsonObject&)> publish;
    // Whether anyone takes the live messages now; without it, someone always does. The second's
    // status and players are built only for a listener.
    std::function<bool()> listening;

    // The status tick: its figures, then the status and players messages, and the ban list
    // when it changed.
    void OnTick(const StatusFigures& figures);
    // A chat line as the chat view shows it.
    void OnChat(std::string_view text);
    // A line of the supervisor's (what became of the server, its failures, its notices), now
    // or at the time given.
    void OnServerLine(std::string_view text, std::optional<int64_t> time = std::nullopt);
    // A line the daily log wrote; from any thread.
    void OnDailyLine(int64_t time, std::string_view line);

private:
    void AddEvent(int64_t time, std::string line);
    // Sends the ban list when it changed since it was last sent.
    void CheckBans();
    void ReadRecentLogs();
    QJsonObject ServerJson();
    QJsonArray Schedule();
    QJsonObject BanList();
    void Publish(const QJsonObject& message);

    MonitorApp& app;
    MonitorController& controller;
    // What the daily log's observer reaches: this object until it goes. A line written on
    // another thread meanwhile is posted under the lock, so never to an object already gone.
    struct Relay {
        std::recursive_mutex lock;  // a line the main thread writes while handling one
        MonitorConsoleBackend* to = nullptr;
    };
    std::shared_ptr<Relay> relay = std::make_shared<Relay>();
    int observer = 0;
    LineRing events{kEventLines};
    LineRing chat{kChatLines};
    LineRing serverLog{kServerLines};
    RatesRing rates;
    StatusFigures figures;
    // Each slot's bytes at the last tick, who held it then, and its rates since the tick before.
    struct SlotRate {
        uint32_t address = 0;
        uint16_t port = 0;
        int64_t logon = 0;
        uint64_t in = 0, out = 0;
        uint64_t rateIn = 0, rateOut = 0;
    };
    std::array<SlotRate, PlayerTable::kSlots> slotRates{};
    int64_t lastTick = 0;
    size_t banFingerprint = 0;
};

}  // namespace zpmoni
