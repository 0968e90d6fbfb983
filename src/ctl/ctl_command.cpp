// SPDX-License-Identifier: MIT
#include "ctl/ctl_command.h"

#include "base/profile_store.h"
#include "base/regular_file.h"
#include "base/text_escape.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QWebSocket>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

namespace zpmoni {
namespace {

constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kUnreachable = 2;  // also usage errors

constexpr int kAnswerTimeoutMs = 10000;
constexpr qint64 kMaxAnswerBytes = qint64{16} << 20;
constexpr quint64 kMaxLiveMessageBytes = quint64{4} << 20;
constexpr size_t kTokenFileLimit = 4096;

void Usage(FILE* to)
{
    std::fputs("usage: zpmoni ctl [--url URL] [--token-file FILE] [--cacert FILE] [--workdir DIR] [--json]\n"
               "                  status | players | events [-f] | chat [-f] | say TEXT...\n"
               "                  | ban ADDR [MASK] [COMMENT...] | unban ADDR\n"
               "                  | start | stop | restart | takeover\n",
               to);
}

struct CommandForm {
    const char* name;
    size_t minOperands;
    size_t maxOperands;
    bool followable;
    bool freeText;  // every word after the command is an operand, "--json" included
};

constexpr CommandForm kCommands[] = {
    {"status", 0, 0, false, false},  {"players", 0, 0, false, false}, {"events", 0, 0, true, false},
    {"chat", 0, 0, true, false},     {"say", 1, SIZE_MAX, false, true}, {"ban", 1, SIZE_MAX, false, true},
    {"unban", 1, 1, false, false},   {"start", 0, 0, false, false},   {"stop", 0, 0, false, false},
    {"restart", 0, 0, false, false}, {"takeover", 0, 0, false, false},
};

struct CtlOptions {
    std::string url;
    std::string tokenFile;
    std::string caCert;
    std::string workdir = ".";
    bool json = false;
    bool follow = false;
    const CommandForm* command = nullptr;
    std::vector<std::string> operands;
};

// Empty when the command line is whole; otherwise what is wrong with it.
std::string ParseArguments(const std::vector<std::string>& args, CtlOptions& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (o.command && o.command->freeText) {
            o.operands.push_back(a);
            continue;
        }
        std::string* value = a == "--url"          ? &o.url
                             : a == "--token-file" ? &o.tokenFile
                             : a == "--cacert"     ? &o.caCert
                             : a == "--workdir"    ? &o.workdir
                                                   : nullptr;
        if (value) {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return a + " needs a value";
            *value = args[++i];
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "-f" || a == "--follow") {
            if (!o.command || !o.command->followable)
                return a + " goes with events or chat";
            o.follow = true;
        } else if (!a.empty() && a[0] == '-') {
            return "unknown option " + a;
        } else if (!o.command) {
            for (const CommandForm& form : kCommands)
                if (a == form.name)
                    o.command = &form;
            if (!o.command)
                return "unknown command " + a;
        } else {
            o.operands.push_back(a);
        }
    }
    if (!o.command)
        return "no command";
    if (o.operands.size() < o.command->minOperands)
        return std::string(o.command->name) + " needs " + (o.command->minOperands == 1 ? "an argument" : "arguments");
    if (o.operands.size() > o.command->maxOperands)
        return std::string("too many arguments for ") + o.command->name;
    return {};
}

std::string Join(const std::vector<std::string>& words, size_t from)
{
    std::string text;
    for (size_t i = from; i < words.size(); ++i)
        text += (i > from ? " " : "") + words[i];
    return text;
}

// Text from the network as the terminal may show it: C0 controls and DEL as "\xNN", C1 controls
// (which some terminals obey as escape sequences) as "\u00NN".
std::string TerminalText(const QString& text)
{
    std::string out;
    QString plain;
    auto flush = [&] {
        AppendEscaped(out, plain.toStdString());
        plain.clear();
    };
    for (QChar c : text) {
        if (c.unicode() >= 0x80 && c.unicode() <= 0x9F) {
            flush();
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c.unicode());
            out += buf;
        } else {
            plain += c;
        }
    }
    flush();
    return out;
}

std::string TerminalText(const QJsonValue& v)
{
    if (v.isString())
        return TerminalText(v.toString());
    if (v.isDouble())
        return std::to_string(v.toInteger());
    if (v.isBool())
        return v.toBool() ? "yes" : "no";
    return "-";
}

std::string LocalTime(const QJsonValue& v)
{
    if (!v.isDouble())
        return "-";
    const time_t t = static_cast<time_t>(v.toInteger());
    struct tm local {};
    char buf[32];
    if (!localtime_r(&t, &local) || !std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local))
        return "-";
    return buf;
}

std::string Rate(const QJsonValue& v)
{
    const double r = v.toDouble();
    char buf[32];
    if (r < 1000)
        std::snprintf(buf, sizeof buf, "%.0f B/s", r);
    else if (r < 1e6)
        std::snprintf(buf, sizeof buf, "%.1f kB/s", r / 1e3);
    else
        std::snprintf(buf, sizeof buf, "%.1f MB/s", r / 1e6);
    return buf;
}

// Columns a UTF-8 text takes on a terminal: East Asian wide characters count two.
size_t DisplayWidth(const std::string& text)
{
    size_t width = 0;
    for (uint c : QString::fromStdString(text).toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

void PrintTable(FILE* out, const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths;
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line.append(widths[i] - DisplayWidth(row[i]) + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

void PrintStatus(FILE* out, const QJsonObject& s)
{
    auto line = [out](const char* label, const std::string& text) {
        std::fprintf(out, "%-10s %s\n", label, text.c_str());
    };
    const QJsonObject server = s["server"].toObject();
    line("Status", TerminalText(s["statusLine"]));
    std::string text = server["running"].toBool() ? "running, pid " + TerminalText(server["pid"]) +
                                                        ", up since " + LocalTime(server["upSince"])
                                                  : std::string("not running");
    text += server["supervised"].toBool() ? ", supervised" : ", not supervised";
    line("Server", text);
    if (server["lastRestart"].isDouble())
        line("Restarted", LocalTime(server["lastRestart"]) + " (" + TerminalText(server["lastRestartCause"]) + ")");
    const QJsonObject players = s["players"].toObject();
    line("Players", TerminalText(players["online"]) + " online, " + TerminalText(players["flying"]) + " flying");
    const QJsonObject rates = s["rates"].toObject();
    line("Traffic", "in " + Rate(rates["bytesInPerSecond"]) + ", out " + Rate(rates["bytesOutPerSecond"]));
    const QJsonObject g = s["glimit"].toObject();
    char range[64];
    std::snprintf(range, sizeof range, "%.1f to %.1f", g["min"].toDouble(), g["max"].toDouble());
    line("G limit", g["enabled"].toBool()
                        ? std::string("on, ") + (g["connected"].toBool() ? "connected, " : "not connected, ") + range
                        : std::string("off"));
    const QJsonObject client = s["client"].toObject();
    line("Client", !client["started"].toBool()   ? "not started"
                   : client["connected"].toBool() ? "connected"
                                                  : "started, not connected");
    const QJsonObject capture = s["capture"].toObject();
    line("Capture", std::string(capture["running"].toBool() ? "running, " : "stopped, ") +
                        TerminalText(capture["drops"]) + " drops");
    const QJsonObject bans = s["bans"].toObject();
    line("Bans", TerminalText(bans["entries"]) + " entries, " +
                     (bans["installed"].toBool() ? "in force" : "not in force"));
    const QJsonArray next = s["next"].toArray();
    for (qsizetype i = 0; i < next.size(); ++i)
        line(i == 0 ? "Next" : "", LocalTime(next[i]["time"]) + " " + TerminalText(next[i]["action"]));
}

void PrintPlayers(FILE* out, const QJsonArray& players)
{
    if (players.isEmpty()) {
        std::fputs("no players online\n", out);
        return;
    }
    std::vector<std::vector<std::string>> rows{{"USER", "AIRCRAFT", "ADDRESS", "HOST", "LOGON", "IN", "OUT"}};
    for (const QJsonValue& v : players) {
        const QJsonObject p = v.toObject();
        const std::string aircraft = TerminalText(p["aircraft"]);
        rows.push_back({TerminalText(p["user"]), aircraft.empty() ? "-" : aircraft,
                        TerminalText(p["address"]) + ":" + TerminalText(p["port"]), TerminalText(p["host"]),
                        LocalTime(p["logon"]), Rate(p["rateIn"]), Rate(p["rateOut"])});
    }
    PrintTable(out, rows);
}

// An event or chat line after its date and time. A daily-log line carries its own clock time
// and TABs between its fields: the time is shown once, the fields apart by a space.
void PrintLine(FILE* out, const QJsonObject& item)
{
    const std::string when = LocalTime(item["time"]);
    QString text = item["text"].toString();
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    if (when.size() >= 8 && text.startsWith(QString::fromStdString(when.substr(when.size() - 8) + " ")))
        text.remove(0, 9);
    std::fprintf(out, "%s %s\n", when.c_str(), TerminalText(text).c_str());
}

void PrintJson(FILE* out, const QJsonObject& object)
{
    std::fprintf(out, "%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
}

bool IsLoopbackHost(const QString& host)
{
    return host == "localhost" || host.startsWith("127.") || host == "::1" || host == "[::1]";
}

// The console's address: --url, or [Web] Listen (with https when a certificate is set) from the
// settings in the working folder.
std::optional<QUrl> ConsoleUrl(const CtlOptions& o, FILE* err)
{
    QUrl url;
    if (!o.url.empty()) {
        url = QUrl(QString::fromStdString(o.url), QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty() ||
            !url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()) {
            std::fprintf(err, "zpmoni ctl: --url %s is not an http or https address\n", Escaped(o.url).c_str());
            return std::nullopt;
        }
    } else {
        ProfileStore ini(o.workdir + "/Zpmoni.ini");
        ini.SetFailureReport([err](std::string_view message) {
            std::fprintf(err, "zpmoni ctl: %s\n", Escaped(message).c_str());
        });
        std::string listen = ini.GetString("Web", "Listen", "");
        if (listen.empty())
            listen = "127.0.0.1:8790";
        const bool tls = !ini.GetString("Web", "CertFile", "").empty() && !ini.GetString("Web", "KeyFile", "").empty();
        const size_t colon = listen.rfind(':');
        char* end = nullptr;
        const long port = colon == std::string::npos ? 0 : std::strtol(listen.c_str() + colon + 1, &end, 10);
        std::string host = colon == std::string::npos ? "" : listen.substr(0, colon);
        if (port < 1 || port > 65535 || *end != '\0' || host.empty() ||
            host.find_first_not_of("0123456789.") != std::string::npos) {
            std::fprintf(err, "zpmoni ctl: [Web] Listen=%s in %s/Zpmoni.ini is not ADDRESS:PORT; give --url\n",
                         Escaped(listen).c_str(), Escaped(o.workdir).c_str());
            return std::nullopt;
        }
        if (host == "0.0.0.0")
            host = "127.0.0.1";
        url.setScheme(tls ? "https" : "http");
        url.setHost(QString::fromStdString(host));
        url.setPort(static_cast<int>(port));
    }
    QString path = url.path();
    while (path.endsWith('/'))
        path.chop(1);
    url.setPath(path);
    if (url.scheme() == "http" && !IsLoopbackHost(url.host()))
        std::fprintf(err, "zpmoni ctl: warning: the token goes to %s unencrypted\n",
                     TerminalText(url.host()).c_str());
    return url;
}

// The first line of the token file, trimmed; the token itself is never printed.
std::optional<std::string> ReadToken(const CtlOptions& o, FILE* err)
{
    std::string path = o.tokenFile;
    if (path.empty()) {
        if (const char* env = std::getenv("ZPMONI_TOKEN_FILE"); env && *env) {
            path = env;
        } else if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
            path = std::string(config) + "/zpmoni/token";
        } else if (const char* home = std::getenv("HOME"); home && *home) {
            path = std::string(home) + "/.config/zpmoni/token";
        } else {
            std::fputs("zpmoni ctl: no token file: give --token-file\n", err);
            return std::nullopt;
        }
    }
    const FileContent file = ReadRegularFile(path, kTokenFileLimit);
    if (file.status != FileStatus::Ok) {
        const std::string why = file.status == FileStatus::Missing ? "no such file"
                                : file.status == FileStatus::NotRegular ? "not a regular file"
                                : file.status == FileStatus::TooLarge ? "too large for a token file"
                                                                      : std::strerror(file.error);
        std::fprintf(err, "zpmoni ctl: cannot read the token file %s: %s\n", Escaped(path).c_str(), why.c_str());
        return std::nullopt;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)))
        std::fprintf(err, "zpmoni ctl: warning: others can read the token file %s (chmod 600 it)\n",
                     Escaped(path).c_str());
    std::string token = file.data.substr(0, file.data.find('\n'));
    const size_t first = token.find_first_not_of(" \t\r");
    const size_t last = token.find_last_not_of(" \t\r");
    token = first == std::string::npos ? "" : token.substr(first, last - first + 1);
    const bool printable = std::all_of(token.begin(), token.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    if (token.empty() || !printable) {
        std::fprintf(err, "zpmoni ctl: the token file %s holds no token\n", Escaped(path).c_str());
        return std::nullopt;
    }
    return token;
}

struct Answer {
    int exit = kUnreachable;
    QJsonObject body;
};

class ConsoleClient {
public:
    ConsoleClient(QUrl base, const std::string& token, QSslConfiguration tls, FILE* err)
        : base(std::move(base)), authorization("Bearer " + QByteArray::fromStdString(token)),
          tls(std::move(tls)), err(err)
    {
        // The token goes to the console and nowhere else: no proxy, no redirects.
        network.setProxy(QNetworkProxy::NoProxy);
        network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }

    QUrl Url(const QString& path, const QUrlQuery& query = {}, bool websocket = false) const
    {
        QUrl url = base;
        url.setPath(base.path() + path);
        url.setQuery(query);
        if (websocket)
            url.setScheme(base.scheme() == "https" ? "wss" : "ws");
        return url;
    }

    // One request, waited for on a loop of its own (a test's server on the same thread goes on
    // answering meanwhile).
    Answer Call(const QByteArray& method, const QString& path, const QUrlQuery& query = {},
                const std::optional<QJsonObject>& body = std::nullopt)
    {
        QNetworkRequest request(Url(path, query));
        request.setRawHeader("Authorization", authorization);
        request.setRawHeader("Accept", "application/json");
        request.setSslConfiguration(tls);
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        QByteArray payload;
        if (body) {
            payload = QJsonDocument(*body).toJson(QJsonDocument::Compact);
            request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        }
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, method, payload));
        QEventLoop loop;
        bool timedOut = false;
        bool tooLarge = false;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            timedOut = true;
            reply->abort();
        });
        QObject::connect(reply.get(), &QNetworkReply::downloadProgress, [&](qint64 received, qint64) {
            if (received > kMaxAnswerBytes && !tooLarge) {
                tooLarge = true;
                reply->abort();
            }
        });
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        timer.start(kAnswerTimeoutMs);
        if (!reply->isFinished())
            loop.exec();

        const std::string where = TerminalText(base.toString());
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (timedOut || tooLarge || status == 0) {
            const std::string why = timedOut ? "no answer within " + std::to_string(kAnswerTimeoutMs / 1000) + " s"
                                    : tooLarge ? std::string("answer too large")
                                               : TerminalText(reply->errorString());
            std::fprintf(err, "zpmoni ctl: cannot reach the console at %s: %s\n", where.c_str(), why.c_str());
            return {};
        }
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &parseError);
        const bool isJson = parseError.error == QJsonParseError::NoError && document.isObject();
        if (status == 200 && isJson)
            return {kDone, document.object()};
        if (status >= 400 && status < 500 && isJson && document.object()["error"].isString()) {
            std::fprintf(err, "zpmoni ctl: refused (%d): %s\n", status,
                         TerminalText(document.object()["error"]).c_str());
            return {kRefused, document.object()};
        }
        std::fprintf(err, "zpmoni ctl: %s gave no console answer (HTTP status %d%s)\n", where.c_str(), status,
                     isJson ? "" : ", not JSON");
        return {};
    }

    const QUrl& Base() const { return base; }
    const QByteArray& Authorization() const { return authorization; }
    const QSslConfiguration& Tls() const { return tls; }

private:
    QUrl base;
    QByteArray authorization;
    QSslConfiguration tls;
    FILE* err;
    QNetworkAccessManager network;
};

// SIGINT and SIGTERM end a follow through a pipe the event loop watches; the previous handlers
// come back afterwards.
int stopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

class StopSignals {
public:
    StopSignals()
    {
        if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &oldInt);
        ::sigaction(SIGTERM, &action, &oldTerm);
        installed = true;
    }
    ~StopSignals()
    {
        if (!installed)
            return;
        ::sigaction(SIGINT, &oldInt, nullptr);
        ::sigaction(SIGTERM, &oldTerm, nullptr);
        ::close(stopPipe[0]);
        ::close(stopPipe[1]);
        stopPipe[0] = stopPipe[1] = -1;
    }
    int ReadEnd() const { return installed ? stopPipe[0] : -1; }

private:
    bool installed = false;
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
};

// Prints what the live socket brings of `kind` ("event" or "chat") after `last`, until a stop
// signal (0) or the connection ends (2).
int Follow(ConsoleClient& client, const QString& kind, qint64 last, bool json, FILE* out, FILE* err)
{
    const QString plural = kind == "event" ? "events" : "chat";
    QUrlQuery query;
    query.addQueryItem(plural, QString::number(last));
    const QUrl base = client.Base();
    QWebSocket socket(base.scheme() + "://" + base.authority(QUrl::FullyEncoded));
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.setSslConfiguration(client.Tls());
    socket.setMaxAllowedIncomingMessageSize(kMaxLiveMessageBytes);
    socket.setMaxAllowedIncomingFrameSize(kMaxLiveMessageBytes);
    QNetworkRequest request(client.Url("/api/v1/live", query, true));
    request.setRawHeader("Authorization", client.Authorization());

    QEventLoop loop;
    // The first reason to stop counts; an error and the close that follows it are one ending.
    bool finished = false;
    auto finish = [&](int code, const std::string& why) {
        if (finished)
            return;
        finished = true;
        if (!why.empty())
            std::fprintf(err, "zpmoni ctl: %s\n", why.c_str());
        loop.exit(code);
    };
    StopSignals stops;
    std::optional<QSocketNotifier> notifier;
    if (stops.ReadEnd() >= 0) {
        notifier.emplace(stops.ReadEnd(), QSocketNotifier::Read);
        QObject::connect(&*notifier, &QSocketNotifier::activated, [&] { finish(kDone, ""); });
    }
    QTimer connectTimer;
    connectTimer.setSingleShot(true);
    QObject::connect(&connectTimer, &QTimer::timeout,
                     [&] { finish(kUnreachable, "the live connection did not open in time"); });
    QObject::connect(&socket, &QWebSocket::connected, &connectTimer, &QTimer::stop);
    QObject::connect(&socket, &QWebSocket::textMessageReceived, [&](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        const QJsonObject item = message[kind].toObject();
        if (message["type"].toString() != kind || item["seq"].toInteger() <= last)
            return;
        last = item["seq"].toInteger();
        json ? PrintJson(out, message) : PrintLine(out, item);
        std::fflush(out);
    });
    QObject::connect(&socket, &QWebSocket::disconnected, [&] { finish(kUnreachable, "the live connection closed"); });
    QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), [&](QAbstractSocket::SocketError) {
        finish(kUnreachable, "the live connection ended: " + TerminalText(socket.errorString()));
    });
    connectTimer.start(kAnswerTimeoutMs);
    socket.open(request);
    const int result = loop.exec();
    socket.disconnect();
    socket.abort();
    return result;
}

int Perform(const CtlOptions& o, ConsoleClient& client, FILE* out, FILE* err)
{
    const std::string name = o.command->name;
    // A second word of ban that looks like a mask ("255.255.255.0", "/24") is one; the rest is
    // the comment.
    const bool banMask = name == "ban" && o.operands.size() > 1 && !o.operands[1].empty() &&
                         o.operands[1].find_first_not_of("0123456789./") == std::string::npos;
    Answer answer;
    if (name == "status") {
        answer = client.Call("GET", "/api/v1/status");
    } else if (name == "players") {
        answer = client.Call("GET", "/api/v1/players");
    } else if (name == "events" || name == "chat") {
        answer = client.Call("GET", "/api/v1/" + QString::fromStdString(name));
    } else if (name == "say") {
        answer = client.Call("POST", "/api/v1/chat", {}, QJsonObject{{"text", QString::fromStdString(Join(o.operands, 0))}});
    } else if (name == "ban") {
        answer = client.Call("POST", "/api/v1/bans", {},
                             QJsonObject{{"address", QString::fromStdString(o.operands[0])},
                                         {"mask", banMask ? QString::fromStdString(o.operands[1]) : QString()},
                                         {"comment", QString::fromStdString(Join(o.operands, banMask ? 2 : 1))}});
    } else if (name == "unban") {
        // Encoded whole, so an "&" or "=" in it cannot add a parameter.
        const QUrlQuery query("address=" + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(o.operands[0]))));
        answer = client.Call("DELETE", "/api/v1/bans", query);
    } else {
        answer = client.Call("POST", "/api/v1/server/" + QString::fromStdString(name));
    }
    if (answer.exit != kDone)
        return answer.exit;

    const QJsonObject& body = answer.body;
    if (name == "events" || name == "chat") {
        const QString kind = name == "events" ? "event" : "chat";
        const QJsonArray items = body[QString::fromStdString(name)].toArray();
        if (o.json && !o.follow)
            PrintJson(out, body);
        else
            for (const QJsonValue& item : items)
                o.json ? PrintJson(out, QJsonObject{{"type", kind}, {kind, item}}) : PrintLine(out, item.toObject());
        std::fflush(out);
        return o.follow ? Follow(client, kind, body["last"].toInteger(), o.json, out, err) : kDone;
    }
    if (o.json) {
        PrintJson(out, body);
        return kDone;
    }
    if (name == "status") {
        PrintStatus(out, body);
    } else if (name == "players") {
        PrintPlayers(out, body["players"].toArray());
    } else if (name == "say") {
        std::fprintf(out, "sent: %s\n", Escaped(Join(o.operands, 0)).c_str());
    } else if (name == "ban") {
        const std::string comment = Join(o.operands, banMask ? 2 : 1);
        std::fprintf(out, "banned %s%s%s%s%s\n", Escaped(o.operands[0]).c_str(), banMask ? " mask " : "",
                     banMask ? Escaped(o.operands[1]).c_str() : "", comment.empty() ? "" : ": ",
                     Escaped(comment).c_str());
    } else if (name == "unban") {
        std::fprintf(out, "%s entries of %s removed\n", TerminalText(body["removed"]).c_str(),
                     Escaped(o.operands[0]).c_str());
    } else {
        std::fprintf(out, "%s: taken by the supervisor\n", name.c_str());
    }
    return kDone;
}

}  // namespace

int RunCtl(int argc, char** argv, const std::vector<std::string>& args, FILE* out, FILE* err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        Usage(out);
        return kDone;
    }
    CtlOptions options;
    if (const std::string problem = ParseArguments(args, options); !problem.empty()) {
        std::fprintf(err, "zpmoni ctl: %s\n", Escaped(problem).c_str());
        Usage(err);
        return kUnreachable;
    }
    static int appArgc;
    appArgc = argc;
    std::optional<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app.emplace(appArgc, argv);

    const std::optional<QUrl> url = ConsoleUrl(options, err);
    if (!url)
        return kUnreachable;
    const std::optional<std::string> token = ReadToken(options, err);
    if (!token)
        return kUnreachable;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (!options.caCert.empty()) {
        const QList<QSslCertificate> certificates =
            QSslCertificate::fromPath(QString::fromStdString(options.caCert), QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (certificates.isEmpty()) {
            std::fprintf(err, "zpmoni ctl: no PEM certificate in %s\n", Escaped(options.caCert).c_str());
            return kUnreachable;
        }
        tls.addCaCertificates(certificates);
    }
    ConsoleClient client(*url, *token, tls, err);
    return Perform(options, client, out, err);
}

}  // namespace zpmoni
