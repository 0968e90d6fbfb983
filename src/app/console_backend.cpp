// SPDX-License-Identifier: MIT
#include "app/console_backend.h"

#include "access/deny_file.h"
#include "access/deny_ruleset.h"
#include "app/monitor_app.h"
#include "app/monitor_controller.h"
#include "history/daily_log_reader.h"
#include "ui/network_text.h"

#include <QJsonValue>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace zpmoni {

namespace {

// The tail of a daily log read at start: far more than the lines kept.
constexpr size_t kTailBytes = size_t{1} << 20;

QString Text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QJsonValue TimeOrNull(int64_t t)
{
    return t == kNoMark || t == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(static_cast<qint64>(t));
}

QJsonValue Count(uint64_t n)
{
    return QJsonValue(static_cast<qint64>(std::min<uint64_t>(n, INT64_MAX)));
}

// At most the last `limit` bytes of a regular file, beginning at a line's start; empty when
// there is no such file. No link is followed and nothing waits on a FIFO.
std::string ReadTail(const std::string& path, size_t limit)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string data;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const off_t size = st.st_size;
        const off_t from = size > static_cast<off_t>(limit) ? size - static_cast<off_t>(limit) : 0;
        data.resize(static_cast<size_t>(size - from));
        size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::pread(fd, data.data() + got, data.size() - got, from + static_cast<off_t>(got));
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        data.resize(got);
        // A line cut by the start of the tail is not a line.
        if (from > 0) {
            const size_t end = data.find('\n');
            data.erase(0, end == std::string::npos ? data.size() : end + 1);
        }
    }
    ::close(fd);
    return data;
}

int Digits2(std::string_view s)
{
    if (s.size() != 2 || s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9')
        return -1;
    return (s[0] - '0') * 10 + (s[1] - '0');
}

// Splits off a daily-log line's "HH:MM:SS<TAB>"; the text after it, or nothing.
std::optional<std::string_view> AfterStamp(std::string_view line, int& h, int& m, int& s)
{
    if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != '\t')
        return std::nullopt;
    h = Digits2(line.substr(0, 2)), m = Digits2(line.substr(3, 2)), s = Digits2(line.substr(6, 2));
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60)
        return std::nullopt;
    return line.substr(9);
}

}  // namespace

WebOptions WebOptionsOf(const MonitorSettings& s)
{
    WebOptions o;
    o.enable = s.webEnable != 0;
    o.listen = s.webListen;
    o.certFile = s.webCertFile;
    o.keyFile = s.webKeyFile;
    o.allowPlainHttp = s.webAllowPlainHttp != 0;
    o.metricsOpen = s.webMetricsOpen != 0;
    std::string_view names = s.webHostNames;
    while (!names.empty()) {
        const size_t comma = names.find(',');
        std::string_view name = names.substr(0, comma);
        names = comma == std::string_view::npos ? std::string_view() : names.substr(comma + 1);
        while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
            name.remove_prefix(1);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        if (!name.empty())
            o.hostNames.emplace_back(name);
    }
    return o;
}

EventKind ClassifyEventLine(std::string_view text)
{
    if (text == "Start server" || text == "Terminate server" || text == "Take control" ||
        text == "Ground obj reconstruct")
        return EventKind::Server;
    if (text.starts_with("Ban "))
        return EventKind::Ban;
    // ADDRESS <TAB> USER <TAB> WORD [<TAB> ...]
    const size_t first = text.find('\t');
    const size_t second = first == std::string_view::npos ? first : text.find('\t', first + 1);
    if (second == std::string_view::npos)
        return EventKind::Other;
    std::string_view word = text.substr(second + 1);
    word = word.substr(0, word.find('\t'));
    if (word == "LOGIN")
        return EventKind::Logon;
    if (word == "LOGOUT")
        return EventKind::Logoff;
    if (word == "JOIN")
        return EventKind::Join;
    if (word == "LEAVE")
        return EventKind::Leave;
    return EventKind::Other;
}

std::string_view EventKindName(EventKind kind)
{
    constexpr std::array<std::string_view, 7> names{"logon", "logoff", "join", "leave", "ban", "server", "other"};
    return names[static_cast<size_t>(kind)];
}

const ConsoleLine& LineRing::Add(int64_t time, EventKind kind, std::string text)
{
    if (lines.size() >= capacity)
        lines.pop_front();
    lines.push_back({next++, time, kind, std::move(text)});
    return lines.back();
}

void RatesRing::Add(int64_t now, double inPerSecond, double outPerSecond)
{
    // A clock set back starts the interval anew.
    if (ticks == 0 || now < periodStart)
        periodStart = now, sumIn = sumOut = 0, ticks = 0;
    sumIn += std::max(inPerSecond, 0.0);
    sumOut += std::max(outPerSecond, 0.0);
    ++ticks;
    if (now - periodStart + 1 < kInterval)
        return;
    samples.push_back({now, static_cast<uint64_t>(sumIn / ticks + 0.5), static_cast<uint64_t>(sumOut / ticks + 0.5)});
    if (samples.size() > kCapacity)
        samples.pop_front();
    ticks = 0;
}

MonitorConsoleBackend::MonitorConsoleBackend(MonitorApp& app, MonitorController& controller, QObject* parent)
    : QObject(parent), app(app), controller(controller)
{
    ReadRecentLogs();
    relay->to = this;
    observer = app.dailyLog.AddObserver([relay = relay](int64_t time, std::string_view line) {
        std::lock_guard guard(relay->lock);
        if (relay->to)
            relay->to->OnDailyLine(time, line);
    });
}

MonitorConsoleBackend::~MonitorConsoleBackend()
{
    app.dailyLog.RemoveObserver(observer);
    std::lock_guard guard(relay->lock);
    relay->to = nullptr;
}

void MonitorConsoleBackend::ReadRecentLogs()
{
    const int64_t now = app.clock.Now();
    const int64_t from = now - 86400;
    // The zone's offset now stands for the whole day read.
    const int64_t offset = CivilSeconds(app.clock.LocalTime(now)) - now;
    std::vector<std::tm> days{app.clock.LocalTime(from)};
    const std::tm today = app.clock.LocalTime(now);
    if (today.tm_mday != days[0].tm_mday || today.tm_mon != days[0].tm_mon || today.tm_year != days[0].tm_year)
        days.push_back(today);
    for (const std::tm& day : days) {
        const std::string text = ReadTail(app.workdir + "/" + FormatTime(day, "Log/zplog%Y%m%d.txt"), kTailBytes);
        std::string_view rest = text;
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            if (end == std::string_view::npos)
                break;  // cut short while being written
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            int h = 0, m = 0, s = 0;
            if (line.size() > kDailyLogLineLimit || !AfterStamp(line, h, m, s))
                continue;
            std::tm at = day;
            at.tm_hour = h, at.tm_min = m, at.tm_sec = s;
            const int64_t t = CivilSeconds(at) - offset;
            if (t >= from && t <= now)
                AddEvent(t, std::string(line));
        }
    }
}

void MonitorConsoleBackend::OnDailyLine(int64_t time, std::string_view line)
{
    if (QThread::currentThread() == thread()) {
        AddEvent(time, std::string(line));
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, time, text = std::string(line)]() mutable { AddEvent(time, std::move(text)); },
        Qt::QueuedConnection);
}

void MonitorConsoleBackend::AddEvent(int64_t time, std::string line)
{
    int h = 0, m = 0, s = 0;
    const std::optional<std::string_view> text = AfterStamp(line, h, m, s);
    const EventKind kind = ClassifyEventLine(text ? *text : std::string_view(line));
    const bool server = kind == EventKind::Server;
    const ConsoleLine& added = events.Add(time, kind, std::move(line));
    Publish({{"type", "event"},
             {"event", QJsonObject{{"seq", Count(added.seq)}, {"time", static_cast<qint64>(added.time)},
                                   {"kind", Text(EventKindName(added.kind))}, {"text", NetworkText(added.text)}}}});
    // What the supervisor wrote to the daily log is in its own log as well.
    if (server && text)
        OnServerLine(*text, time);
}

void MonitorConsoleBackend::OnChat(std::string_view text)
{
    const ConsoleLine& added = chat.Add(app.clock.Now(), EventKind::Other, std::string(text));
    Publish({{"type", "chat"},
             {"chat", QJsonObject{{"seq", Count(added.seq)}, {"time", static_cast<qint64>(added.time)},
                                  {"text", NetworkText(added.text)}}}});
}

void MonitorConsoleBackend::OnServerLine(std::string_view text, std::optional<int64_t> time)
{
    const ConsoleLine& added = serverLog.Add(time.value_or(app.clock.Now()), EventKind::Server, std::string(text));
    Publish({{"type", "server"},
             {"log", QJsonObject{{"time", static_cast<qint64>(added.time)}, {"text", Text(added.text)}}}});
}

void MonitorConsoleBackend::OnTick(const StatusFigures& f)
{
    figures = f;
    const int64_t now = app.clock.Now();
    // down and up are bytes per millisecond: kB/s.
    rates.Add(now, f.down * 1000.0, f.up * 1000.0);
    const int64_t dt = std::max<int64_t>(1, now - lastTick);
    for (int i = 0; i < PlayerTable::kSlots; ++i) {
        const PlayerRecord& r = app.capture.Table().Slot(i);
        SlotRate& s = slotRates[static_cast<size_t>(i)];
        const bool same = lastTick != 0 && r.address == s.address && r.port == s.port && r.logonTime == s.logon &&
                          r.bytesIn >= s.in && r.bytesOut >= s.out;
        s.rateIn = same ? (r.bytesIn - s.in) / static_cast<uint64_t>(dt) : 0;
        s.rateOut = same ? (r.bytesOut - s.out) / static_cast<uint64_t>(dt) : 0;
        s.address = r.address, s.port = r.port, s.logon = r.logonTime, s.in = r.bytesIn, s.out = r.bytesOut;
    }
    lastTick = now;
    if (!publish || (listening && !listening()))
        return;
    Publish({{"type", "status"}, {"status", Status()}});
    Publish({{"type", "players"}, {"players", Players()}});
    CheckBans();
}

void MonitorConsoleBackend::CheckBans()
{
    if (!publish)
        return;
    // Any change of the list (the window's, the console's, an expiry) reaches the live clients.
    size_t print = std::hash<bool>{}(app.access.Summary().installed);
    for (const DenyEntry& e : app.access.List())
        print = print * 31 + std::hash<std::string>{}(e.address + '\n' + e.mask + '\n' + e.comment);
    if (print != banFingerprint) {
        banFingerprint = print;
        QJsonObject message = BanList();
        message.insert("type", "bans");
        Publish(message);
    }
}

void MonitorConsoleBackend::Publish(const QJsonObject& message)
{
    if (publish)
        publish(message);
}

QJsonObject MonitorConsoleBackend::ServerJson()
{
    const ServerStatus s = app.server.CurrentStatus();
    const RestartCounts& r = app.server.Restarts();
    return {{"supervised", s.supervised},
            {"running", s.running},
            {"pid", s.pid == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(static_cast<qint64>(s.pid))},
            {"upSince", s.running ? TimeOrNull(s.lastRestart) : QJsonValue(QJsonValue::Null)},
            {"lastRestart", TimeOrNull(r.last)},
            {"lastRestartCause", r.lastCause ? QJsonValue(Text(kRestartCauseNames[static_cast<size_t>(*r.lastCause)]))
                                             : QJsonValue(QJsonValue::Null)}};
}

QJsonArray MonitorConsoleBackend::Schedule()
{
    QJsonArray next;
    for (const ScheduledAction& a : app.server.Schedule().NextActions())
        next.append(QJsonObject{{"time", static_cast<qint64>(a.time)}, {"action", Text(a.action)}});
    return next;
}

QJsonObject MonitorConsoleBackend::Status()
{
    const CaptureService::Counts players = app.capture.Players();
    const ClientState client = controller.Client().State();
    const GlimitValues limits = controller.Client().Glimit();
    const AccessSummary bans = app.access.Summary();
    return {{"time", static_cast<qint64>(app.clock.Now())},
            {"statusLine", controller.StatusLine()},
            {"server", ServerJson()},
            {"players", QJsonObject{{"online", players.online}, {"flying", players.flying}}},
            {"rates", QJsonObject{{"bytesInPerSecond", static_cast<qint64>(figures.down * 1000.0 + 0.5)},
                                  {"bytesOutPerSecond", static_cast<qint64>(figures.up * 1000.0 + 0.5)}}},
            {"glimit", QJsonObject{{"enabled", controller.glimit != 0}, {"connected", client.glimit && client.connected},
                                   {"min", limits.negative}, {"max", limits.positive}}},
            {"client", QJsonObject{{"started", client.started}, {"connected", client.connected}}},
            {"capture", QJsonObject{{"running", app.capture.Running()}, {"drops", Count(app.capture.Drops())}}},
            {"bans", QJsonObject{{"entries", static_cast<qint64>(bans.entries)}, {"installed", bans.installed}}},
            {"next", Schedule()}};
}

QJsonObject MonitorConsoleBackend::Rates()
{
    QJsonArray samples;
    for (const RatesRing::Sample& s : rates.Samples())
        samples.append(QJsonObject{{"time", static_cast<qint64>(s.time)}, {"in", Count(s.in)}, {"out", Count(s.out)}});
    return {{"interval", static_cast<int>(RatesRing::kInterval)}, {"samples", samples}};
}

QJsonArray MonitorConsoleBackend::Players()
{
    QJsonArray list;
    for (int i = 0; i < PlayerTable::kSlots; ++i) {
        const PlayerRecord& r = app.capture.Table().Slot(i);
        if (!r.Online())
            continue;
        const SlotRate& s = slotRates[static_cast<size_t>(i)];
        const bool rated = s.address == r.address && s.port == r.port && s.logon == r.logonTime;
        list.append(QJsonObject{{"user", NetworkText(r.userName.View())},
                                {"aircraft", r.Flying() ? NetworkText(r.aircraftName.View()) : QString()},
                                {"address", Text(r.addressText.View())},
                                {"port", r.port},
                                {"host", NetworkText(r.hostText.View())},
                                {"logon", static_cast<qint64>(r.logonTime)},
                                {"flying", r.Flying()},
                                {"bytesIn", Count(r.bytesIn)},
                                {"bytesOut", Count(r.bytesOut)},
                                {"rateIn", Count(rated ? s.rateIn : 0)},
                                {"rateOut", Count(rated ? s.rateOut : 0)}});
    }
    return list;
}

QJsonObject MonitorConsoleBackend::Events(uint64_t since)
{
    QJsonArray list;
    events.After(since, [&](const ConsoleLine& l) {
        list.append(QJsonObject{{"seq", Count(l.seq)}, {"time", static_cast<qint64>(l.time)},
                                {"kind", Text(EventKindName(l.kind))}, {"text", NetworkText(l.text)}});
    });
    return {{"last", Count(events.Last())}, {"events", list}};
}

QJsonObject MonitorConsoleBackend::Chat(uint64_t since)
{
    QJsonArray list;
    chat.After(since, [&](const ConsoleLine& l) {
        list.append(QJsonObject{{"seq", Count(l.seq)}, {"time", static_cast<qint64>(l.time)}, {"text", NetworkText(l.text)}});
    });
    return {{"last", Count(chat.Last())}, {"chat", list}};
}

QJsonObject MonitorConsoleBackend::BanList()
{
    const int64_t now = app.clock.Now();
    const DenyRuleset& held = app.access.InForce();
    const bool installed = app.access.Summary().installed;
    QJsonArray list;
    for (const DenyEntry& e : app.access.List()) {
        const DenyMatch match = MatchOf(e);
        const bool enforced = match.kind == DenyMatch::Enforced;
        const int64_t until = deny_file::ParseComment(e.comment).until;
        list.append(QJsonObject{{"address", Text(e.address)},
                                {"mask", e.mask == "255.255.255.255" ? QString() : Text(e.mask)},
                                {"block", enforced ? Text(match.Text()) : QString()},
                                {"comment", NetworkText(e.comment)},
                                {"inForce", installed && enforced && held.Covers(match, now)},
                                {"until", until == 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(static_cast<qint64>(until))}});
    }
    return {{"installed", installed}, {"bans", list}};
}

QJsonObject MonitorConsoleBackend::Bans()
{
    return BanList();
}

QJsonObject MonitorConsoleBackend::Server()
{
    QJsonArray log;
    serverLog.After(0, [&](const ConsoleLine& l) {
        log.append(QJsonObject{{"time", static_cast<qint64>(l.time)}, {"text", Text(l.text)}});
    });
    return {{"server", ServerJson()}, {"schedule", Schedule()}, {"log", log}};
}

MetricsSnapshot MonitorConsoleBackend::Metrics()
{
    MetricsSnapshot m;
    const CaptureService::Counts players = app.capture.Players();
    m.playersOnline = static_cast<uint64_t>(std::max(players.online, 0));
    m.playersFlying = static_cast<uint64_t>(std::max(players.flying, 0));
    const PlayerTable::Totals& t = app.capture.Table().totals;
    m.datagramsIn = t.datagramsIn, m.datagramsOut = t.datagramsOut;
    m.bytesIn = t.bytesIn, m.bytesOut = t.bytesOut;
    m.captureDrops = app.capture.Drops();
    m.decoderRejects = app.capture.Rejects();
    m.serverUp = app.server.CurrentStatus().running;
    const RestartCounts& r = app.server.Restarts();
    for (size_t i = 0; i < kRestartCauseNames.size(); ++i)
        m.restartsByCause[std::string(kRestartCauseNames[i])] = r.byCause[i];
    m.damageSent = controller.DamageSentTotal();
    const int64_t now = app.clock.Now();
    const DenyRuleset& held = app.access.InForce();
    if (app.access.Summary().installed)
        for (const DenyEntry& e : app.access.List()) {
            const DenyMatch match = MatchOf(e);
            m.bansInForce += match.kind == DenyMatch::Enforced && held.Covers(match, now);
        }
    const ClientState client = controller.Client().State();
    m.clientConnected = client.connected;
    m.logWriteFailures = app.dailyLog.WriteFailures() + app.errorLog.WriteFailures() +
                         app.actionLog.WriteFailures() + controller.Client().ChatLogFailures();
    return m;
}

Status MonitorConsoleBackend::Perform(std::string_view who, const ConsoleAction& a)
{
    using Kind = ConsoleAction::Kind;
    switch (a.kind) {
    case Kind::Ban: {
        // The access service writes the action-log line with `who`.
        const zpmoni::Status banned = app.access.Ban(who, a.address, a.mask, a.comment, std::chrono::seconds(0));
        CheckBans();
        return banned;
    }
    case Kind::Unban: {
        const Result<size_t> removed = app.access.Unban(who, a.address);
        CheckBans();
        if (!removed)
            return Failure{removed.error()};
        return {};
    }
    case Kind::Say:
        return controller.Client().SendChat(a.text);
    case Kind::Start:
        return app.server.Start();
    case Kind::Stop:
        return app.server.Stop();
    case Kind::Restart:
        return app.server.Restart(RestartCause::Operator);
    case Kind::TakeOver: {
        if (!app.server.CanTakeOver())
            return Failure{"2つ以上のZEPHRINEを制御することはできません ZP終了を行ってから，再度実行してください"};
        // The window is found later; what came of it is in the supervisor's log.
        // The answer may come after the console is gone.
        app.server.SearchWindow([this, alive = QPointer<MonitorConsoleBackend>(this)](std::optional<WindowInfo> found) {
            if (!alive)
                return;
            if (!found) {
                OnServerLine("Take control: no server window found");
                return;
            }
            if (const zpmoni::Status taken = app.server.TakeOver(*found); !taken)
                OnServerLine("Take control: " + taken.error());
        });
        return {};
    }
    }
    return Failure{"unknown action"};
}

}  // namespace zpmoni
