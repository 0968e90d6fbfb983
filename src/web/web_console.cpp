// SPDX-License-Identifier: MIT
#include "web/web_console.h"

#include "base/text_escape.h"
#include "web/console_guard.h"
#include "web/metrics_text.h"
#include "web/operators.h"

#include <QAbstractHttpServer>
#include <QDirIterator>
#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <sys/stat.h>

#include <charconv>
#include <ctime>
#include <set>

// The pages are in a static library: their resource must be named to be linked.
static void InitPages()
{
    Q_INIT_RESOURCE(web);
}

namespace zpmoni {

namespace {

// A connection may send this much without an answer written before it is cut: one full body
// and room for the request line and headers.
constexpr qint64 kConnectionBudget = qint64(kMaxRequestBody) + 16 * 1024;
// A live client this far behind is dropped instead of being buffered for.
constexpr qint64 kMaxLiveBacklog = 1 << 20;
constexpr quint64 kMaxLiveIncoming = 4096;
constexpr size_t kMaxLiveClients = 64;
constexpr qint64 kMaxPemFile = 1 << 20;
constexpr int kMaxTextChars = 200;
constexpr const char* kCookieName = "zpmoni_session";

// Connections open at once, and how long one may stay silent (no byte in or out) before it is
// closed: a client cannot hold the console's sockets forever.
constexpr int kMaxConnections = 128;
constexpr int kIdleMilliseconds = 60'000;
const char* const kIdleTimerName = "zpmoni-idle";

// Cuts a connection that sends more than its budget without getting an answer, or that idles.
// Qt's server reads everything available on each readyRead, so what is available when this slot
// (connected before the server's) runs is what arrived since the last time. False when too many
// connections are open: the caller closes this one.
bool AttachBudget(QTcpSocket* socket, const std::shared_ptr<int>& open)
{
    if (*open >= kMaxConnections)
        return false;
    ++*open;
    QObject::connect(socket, &QObject::destroyed, [open] { --*open; });
    auto* idle = new QTimer(socket);
    idle->setObjectName(kIdleTimerName);
    idle->setSingleShot(true);
    idle->start(kIdleMilliseconds);
    QObject::connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    auto received = std::make_shared<qint64>(0);
    QObject::connect(socket, &QIODevice::readyRead, socket, [socket, received, idle] {
        idle->start(kIdleMilliseconds);
        *received += socket->bytesAvailable();
        if (*received > kConnectionBudget) {
            QObject::disconnect(socket, &QIODevice::readyRead, nullptr, nullptr);
            socket->abort();
        }
    });
    QObject::connect(socket, &QIODevice::bytesWritten, socket, [received, idle] {
        *received = 0;
        idle->start(kIdleMilliseconds);
    });
    return true;
}

class BudgetTcpServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;
    std::shared_ptr<int> open = std::make_shared<int>(0);

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor) || !AttachBudget(socket, open)) {
            socket->abort();
            delete socket;
            return;
        }
        addPendingConnection(socket);
    }
};

class HttpFront : public QAbstractHttpServer {
public:
    std::function<void(const QHttpServerRequest&, QHttpServerResponder&)> handler;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        // Qt hands a WebSocket upgrade to its WebSocket server after this returns; the socket is
        // checked there, and nothing may be written here first.
        if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) == 0 &&
            request.value("Connection").toLower().contains("upgrade")) {
            delete socket->findChild<QTimer*>(kIdleTimerName, Qt::FindDirectChildrenOnly);  // live sockets idle
            return true;
        }
        QHttpServerResponder responder = makeResponder(request, socket);
        handler(request, responder);
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}
};

std::optional<uint32_t> ParseNumber(std::string_view s, uint32_t max)
{
    if (s.empty() || s.size() > 10)
        return std::nullopt;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > max)
        return std::nullopt;
    return uint32_t(v);
}

bool DottedQuad(std::string_view s)
{
    int parts = 0;
    while (true) {
        const size_t dot = s.find('.');
        const std::string_view part = s.substr(0, dot);
        if (part.size() > 3 || !ParseNumber(part, 255))
            return false;
        ++parts;
        if (dot == std::string_view::npos)
            break;
        s.remove_prefix(dot + 1);
    }
    return parts == 4;
}

// "a.b.c.d" or "a.b.c.d/N".
bool AddressOrBlock(std::string_view s)
{
    const size_t slash = s.find('/');
    if (slash == std::string_view::npos)
        return DottedQuad(s);
    const std::string_view bits = s.substr(slash + 1);
    return DottedQuad(s.substr(0, slash)) && bits.size() <= 2 && ParseNumber(bits, 32);
}

bool MaskText(std::string_view s)
{
    if (s.empty())
        return true;
    if (s[0] == '/')
        return s.size() <= 3 && ParseNumber(s.substr(1), 32).has_value();
    return DottedQuad(s);
}

// Whether a text from a request is acceptable for a comment or chat line.
bool PlainText(const QString& text, int minChars, int maxChars)
{
    const QList<uint> chars = text.toUcs4();
    if (chars.size() < minChars || chars.size() > maxChars)
        return false;
    for (uint c : chars)
        if (QChar::category(char32_t(c)) == QChar::Other_Control || c == 0x2028 || c == 0x2029)
            return false;
    return true;
}

std::string CookieValue(const QByteArray& header, std::string_view name)
{
    for (const QByteArray& part : header.split(';')) {
        const QByteArray item = part.trimmed();
        const qsizetype eq = item.indexOf('=');
        if (eq > 0 && std::string_view(item.constData(), size_t(eq)) == name)
            return item.mid(eq + 1).toStdString();
    }
    return {};
}

QByteArray ContentType(const QString& name)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},  {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},    {".json", "application/json"},
        {".svg", "image/svg+xml"},              {".png", "image/png"},
        {".ico", "image/x-icon"},               {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [ext, type] : kTypes)
        if (name.endsWith(QLatin1String(ext)))
            return type;
    return "application/octet-stream";
}

QJsonObject ErrorBody(const char* text)
{
    return QJsonObject{{"error", QString::fromUtf8(text)}};
}

std::optional<ListenAddress> ParseListenAllowingZero(std::string_view listen)
{
    const size_t colon = listen.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view host = listen.substr(0, colon);
    const std::string_view port = listen.substr(colon + 1);
    const auto number = port.size() <= 5 ? ParseNumber(port, 65535) : std::nullopt;
    if (!DottedQuad(host) || !number)
        return std::nullopt;
    return ListenAddress{std::string(host), uint16_t(*number)};
}

struct FileKey {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;  // a chmod alone changes only this
    bool operator==(const FileKey&) const = default;
};

Result<QByteArray> ReadBounded(const std::string& path, const char* what)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return Failure{std::string("Console: ") + what + " " + Escaped(path) + ": " +
                       file.errorString().toStdString()};
    const QByteArray data = file.read(kMaxPemFile + 1);
    if (data.size() > kMaxPemFile)
        return Failure{std::string("Console: ") + what + " " + Escaped(path) + ": larger than 1 MiB"};
    return data;
}

}  // namespace

std::optional<ListenAddress> ParseListen(std::string_view listen)
{
    auto parsed = ParseListenAllowingZero(listen);
    if (parsed && parsed->port == 0)
        return std::nullopt;
    return parsed;
}

struct WebConsole::Impl {
    enum class Need { None, Viewer, Admin };

    struct Caller {
        std::string name;
        OperatorRole role = OperatorRole::Viewer;
        bool bearer = false;
        std::string cookie;  // the session cookie, for the cookie's callers
        std::string csrf;
    };

    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray type = "application/json";
        std::vector<std::pair<QByteArray, QByteArray>> headers;
    };

    struct Call {
        const QHttpServerRequest& request;
        const std::optional<Caller>& caller;
        QJsonObject json;
    };

    using Handler = Reply (Impl::*)(const Call&);
    struct Route {
        QHttpServerRequest::Method method;
        const char* path;
        Need need;
        Handler handler;
        bool jsonBody = false;
    };

    WebConsole& self;
    ConsoleBackend& backend;
    std::string workdir;
    Links links;

    std::unique_ptr<HttpFront> http;
    std::optional<HostCheck> hosts;
    bool tls = false;
    bool metricsOpen = false;
    std::set<QString> pages;
    std::vector<QWebSocket*> live;

    OperatorList operators;
    FileKey operatorsKey;
    bool operatorsChecked = false;
    int64_t operatorsCheckedAt = 0;
    LoginLimiter limiter;
    SessionStore sessions;

    Impl(WebConsole& self, ConsoleBackend& backend, std::string workdir, Links links)
        : self(self), backend(backend), workdir(std::move(workdir)), links(std::move(links))
    {
    }

    int64_t Now() const { return links.now ? links.now() : int64_t(std::time(nullptr)); }
    void ErrorLog(const std::string& line) const
    {
        if (links.errorLog)
            links.errorLog(line);
    }
    void ActionLog(const std::string& who, std::string_view action, std::string_view target,
                   std::string_view comment) const
    {
        if (links.actionLog)
            links.actionLog(who, action, target, comment);
    }

    // operators.txt again when it changed, looked at no more than once a second.
    void RefreshOperators()
    {
        const int64_t now = Now();
        if (operatorsChecked && now == operatorsCheckedAt)
            return;
        operatorsCheckedAt = now;
        const std::string path = workdir + "/" + std::string(kOperatorsFileName);
        FileKey key;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            key = {true, st.st_dev, st.st_ino, st.st_size,
                   int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                   int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
        }
        if (operatorsChecked && key == operatorsKey)
            return;
        operatorsChecked = true;
        operatorsKey = key;
        std::vector<std::string> problems;
        auto loaded = OperatorList::Load(path, &problems);
        if (loaded) {
            operators = std::move(loaded.value());
            for (const std::string& problem : problems)
                ErrorLog("Console: " + Escaped(problem));
        } else {
            operators = OperatorList();
            ErrorLog("Console: nobody can log in: " + Escaped(loaded.error()));
        }
        sessions.Retain(operators);
        // Live sockets of operators no longer in the list, or with another role now, end too.
        for (QWebSocket* socket : std::vector<QWebSocket*>(live)) {
            const Operator* op = operators.ByName(socket->property("operator").toString().toStdString());
            const QByteArray token = socket->property("token").toByteArray();
            if (!op || int(op->role) != socket->property("role").toInt() ||
                (!token.isEmpty() && token.toStdString() != op->tokenHash))
                Drop(socket);
        }
    }

    static Reply Json(int status, const QJsonObject& body)
    {
        Reply r;
        r.status = status;
        r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
        return r;
    }
    static Reply Error(int status, const char* text) { return Json(status, ErrorBody(text)); }

    void Send(QHttpServerResponder& responder, const Reply& reply)
    {
        responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
        responder.writeHeader("Content-Type", reply.type);
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        responder.writeHeader("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("Referrer-Policy", "no-referrer");
        responder.writeHeader("Cache-Control", "no-store");
        for (const auto& [name, value] : reply.headers)
            responder.writeHeader(name, value);
        responder.writeBody(reply.body);
    }

    static const std::vector<Route>& Routes()
    {
        using M = QHttpServerRequest::Method;
        static const std::vector<Route> routes = {
            {M::Post, "/api/v1/login", Need::None, &Impl::Login, true},
            {M::Post, "/api/v1/logout", Need::Viewer, &Impl::Logout},
            {M::Get, "/api/v1/session", Need::Viewer, &Impl::Session},
            {M::Get, "/api/v1/status", Need::Viewer, &Impl::StatusReply},
            {M::Get, "/api/v1/rates", Need::Viewer, &Impl::RatesReply},
            {M::Get, "/api/v1/players", Need::Viewer, &Impl::PlayersReply},
            {M::Get, "/api/v1/events", Need::Viewer, &Impl::EventsReply},
            {M::Get, "/api/v1/chat", Need::Viewer, &Impl::ChatReply},
            {M::Post, "/api/v1/chat", Need::Admin, &Impl::Say, true},
            {M::Get, "/api/v1/bans", Need::Viewer, &Impl::BansReply},
            {M::Post, "/api/v1/bans", Need::Admin, &Impl::Ban, true},
            {M::Delete, "/api/v1/bans", Need::Admin, &Impl::Unban},
            {M::Get, "/api/v1/server", Need::Viewer, &Impl::ServerReply},
            {M::Post, "/api/v1/server/start", Need::Admin, &Impl::ServerAction},
            {M::Post, "/api/v1/server/stop", Need::Admin, &Impl::ServerAction},
            {M::Post, "/api/v1/server/restart", Need::Admin, &Impl::ServerAction},
            {M::Post, "/api/v1/server/takeover", Need::Admin, &Impl::ServerAction},
            {M::Get, "/api/v1/live", Need::Viewer, &Impl::LiveWithoutUpgrade},
            {M::Get, "/metrics", Need::None, &Impl::Metrics},
        };
        return routes;
    }

    // Who a request's credentials name: nullopt with no credentials; a Reply when they are
    // refused (a wrong token, or too many of them from that address).
    std::variant<std::optional<Caller>, Reply> Authenticate(const QByteArray& authorization,
                                                            const QByteArray& cookieHeader,
                                                            const QHostAddress& peer)
    {
        if (!authorization.isEmpty()) {
            const std::string address = peer.toString().toStdString();
            if (!limiter.Allowed(address, Now()))
                return Error(429, "too many failed log-ins; wait a minute");
            const Operator* op = authorization.startsWith("Bearer ")
                                     ? operators.Find(std::string_view(authorization).substr(7))
                                     : nullptr;
            if (!op) {
                FailedLogIn(address);
                return Error(401, "wrong token");
            }
            return std::optional<Caller>(Caller{op->name, op->role, true, {}, {}});
        }
        const std::string cookie = CookieValue(cookieHeader, kCookieName);
        if (cookie.empty())
            return std::optional<Caller>();
        const ConsoleSession* session = sessions.Find(cookie, Now());
        if (!session)
            return std::optional<Caller>();
        return std::optional<Caller>(Caller{session->operatorName, session->role, false, cookie, session->csrf});
    }

    void FailedLogIn(const std::string& address)
    {
        limiter.Failed(address, Now());
        ErrorLog("Console: log-in failed from " + Escaped(address));
    }

    Reply Dispatch(const QHttpServerRequest& request)
    {
        if (!hosts || !hosts->HostAllowed(request.value("Host").toStdString()))
            return Error(421, "this console is not reached by that name");
        bool lengthOk = true;
        const QByteArray length = request.value("Content-Length");
        if (!length.isEmpty() && length.toULongLong(&lengthOk) > kMaxRequestBody)
            lengthOk = false;
        if (!lengthOk || size_t(request.body().size()) > kMaxRequestBody)
            return Error(413, "request body too large");

        const QString path = request.url().path();
        if (path == QLatin1String("/") || path.startsWith(QLatin1String("/static/")))
            return Page(request, path);
        const Route* route = nullptr;
        bool pathKnown = false;
        for (const Route& r : Routes()) {
            if (path != QLatin1String(r.path))
                continue;
            pathKnown = true;
            if (request.method() == r.method)
                route = &r;
        }
        if (!route)
            return pathKnown ? Error(405, "method not allowed") : Error(404, "not found");

        RefreshOperators();
        const bool login = route->handler == &Impl::Login;
        std::optional<Caller> caller;
        if (!login) {
            auto auth = Authenticate(request.value("Authorization"), request.value("Cookie"),
                                     request.remoteAddress());
            if (auto* refused = std::get_if<Reply>(&auth))
                return *refused;
            caller = std::get<std::optional<Caller>>(auth);
        }
        if (route->need != Need::None && !caller)
            return Error(401, "log in first");

        const bool change = route->method != QHttpServerRequest::Method::Get;
        if (change) {
            const QByteArray origin = request.value("Origin");
            if (!origin.isEmpty() && !hosts->OriginAllowed(origin.toStdString()))
                return Error(403, "foreign origin");
            if (caller && !caller->bearer &&
                (origin.isEmpty() || !SecretsEqual(request.value("X-CSRF-Token").toStdString(), caller->csrf)))
                return Error(403, "missing or wrong CSRF token");
        }

        if (route->need == Need::Admin && caller->role != OperatorRole::Admin) {
            ActionLog("web:" + caller->name, ActionName(path, request.method()), "",
                      "refused: a viewer may not act");
            return Error(403, "viewers may not act");
        }
        Call call{request, caller, {}};
        if (route->jsonBody) {
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(request.body(), &error);
            if (error.error != QJsonParseError::NoError || !doc.isObject())
                return Error(400, "the body must be a JSON object");
            call.json = doc.object();
        }
        return (this->*route->handler)(call);
    }

    Reply Page(const QHttpServerRequest& request, const QString& path)
    {
        if (request.method() != QHttpServerRequest::Method::Get)
            return Error(405, "method not allowed");
        const QString name = path == QLatin1String("/") ? QStringLiteral("index.html") : path.mid(8);
        if (!pages.count(name))
            return Error(404, "not found");
        QFile file(QStringLiteral(":/web/") + name);
        if (!file.open(QIODevice::ReadOnly))
            return Error(404, "not found");
        Reply r;
        r.body = file.readAll();
        r.type = ContentType(name);
        return r;
    }

    static std::string ActionName(const QString& path, QHttpServerRequest::Method method)
    {
        if (path.endsWith(QLatin1String("/chat")))
            return "say";
        if (path.endsWith(QLatin1String("/bans")))
            return method == QHttpServerRequest::Method::Delete ? "unban" : "ban";
        return path.mid(path.lastIndexOf('/') + 1).toStdString();
    }

    Reply Login(const Call& call)
    {
        const std::string address = call.request.remoteAddress().toString().toStdString();
        if (!limiter.Allowed(address, Now()))
            return Error(429, "too many failed log-ins; wait a minute");
        const QJsonValue token = call.json.value("token");
        const Operator* op = token.isString() ? operators.Find(token.toString().toStdString()) : nullptr;
        if (!op) {
            FailedLogIn(address);
            return Error(401, "wrong token");
        }
        auto cookie = sessions.Open(*op, Now());
        if (!cookie) {
            ErrorLog("Console: " + Escaped(cookie.error()));
            return Error(500, "no session could be made");
        }
        const ConsoleSession* session = sessions.Find(cookie.value(), Now());
        if (!session)
            return Error(500, "no session could be made");
        Reply r = Who(op->name, op->role, session->csrf);
        QByteArray setCookie = QByteArray(kCookieName) + "=" + QByteArray::fromStdString(cookie.value()) +
                               "; HttpOnly; SameSite=Strict; Path=/";
        if (tls)
            setCookie += "; Secure";
        r.headers.emplace_back("Set-Cookie", setCookie);
        return r;
    }

    Reply Logout(const Call& call)
    {
        Reply r = Json(200, {{"ok", true}});
        if (!call.caller->bearer) {
            sessions.Close(call.caller->cookie);
            r.headers.emplace_back("Set-Cookie", QByteArray(kCookieName) +
                                                     "=; Max-Age=0; HttpOnly; SameSite=Strict; Path=/" +
                                                     (tls ? "; Secure" : ""));
        }
        return r;
    }

    static Reply Who(const std::string& name, OperatorRole role, const std::string& csrf)
    {
        const std::string_view roleName = RoleName(role);
        return Json(200, {{"operator", QString::fromStdString(name)},
                          {"role", QString::fromUtf8(roleName.data(), qsizetype(roleName.size()))},
                          {"csrf", QString::fromStdString(csrf)}});
    }
    Reply Session(const Call& call) { return Who(call.caller->name, call.caller->role, call.caller->csrf); }

    Reply StatusReply(const Call&) { return Json(200, backend.Status()); }
    Reply RatesReply(const Call&) { return Json(200, backend.Rates()); }
    Reply PlayersReply(const Call&) { return Json(200, {{"players", backend.Players()}}); }
    Reply BansReply(const Call&) { return Json(200, backend.Bans()); }
    Reply ServerReply(const Call&) { return Json(200, backend.Server()); }
    Reply LiveWithoutUpgrade(const Call&) { return Error(400, "a WebSocket upgrade is expected here"); }

    static std::optional<uint64_t> Since(const QUrlQuery& query, const QString& key)
    {
        if (!query.hasQueryItem(key))
            return 0;
        const std::string text = query.queryItemValue(key).toStdString();
        uint64_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

    Reply EventsReply(const Call& call)
    {
        const auto since = Since(call.request.query(), QStringLiteral("since"));
        return since ? Json(200, backend.Events(*since)) : Error(400, "since must be a number");
    }
    Reply ChatReply(const Call& call)
    {
        const auto since = Since(call.request.query(), QStringLiteral("since"));
        return since ? Json(200, backend.Chat(*since)) : Error(400, "since must be a number");
    }

    // Hands the action to the monitor and writes its one action-log line with the outcome. The
    // deny list writes its own line for a ban or an unban, with the same operator, and the
    // outcome: a second one here would count every ban twice.
    Reply Act(const Call& call, const ConsoleAction& action, std::string_view name, const std::string& target,
              const std::string& comment, QJsonObject answer = {{"ok", true}})
    {
        const std::string who = "web:" + call.caller->name;
        const Status done = backend.Perform(who, action);
        const bool listWrites = action.kind == ConsoleAction::Kind::Ban || action.kind == ConsoleAction::Kind::Unban;
        if (!listWrites)
            ActionLog(who, name, target, done ? comment : "refused: " + done.error());
        if (!done)
            return Json(409, {{"error", QString::fromStdString(done.error())}});
        return Json(200, answer);
    }

    Reply Say(const Call& call)
    {
        const QJsonValue text = call.json.value("text");
        if (!text.isString() || !PlainText(text.toString(), 1, kMaxTextChars))
            return Error(400, "text must be 1 to 200 characters without control characters");
        ConsoleAction action;
        action.kind = ConsoleAction::Kind::Say;
        action.text = text.toString().toStdString();
        return Act(call, action, "say", "all players", action.text);
    }

    Reply Ban(const Call& call)
    {
        const QJsonValue address = call.json.value("address");
        const QJsonValue mask = call.json.value("mask");
        const QJsonValue comment = call.json.value("comment");
        if (!address.isString() || !AddressOrBlock(address.toString().toStdString()))
            return Error(400, "address must be a.b.c.d or a.b.c.d/N");
        if (!(mask.isUndefined() || mask.isNull() || mask.isString()) || !MaskText(mask.toString().toStdString()))
            return Error(400, "mask must be dotted, /N or empty");
        if (address.toString().contains('/') && !mask.toString().isEmpty())
            return Error(400, "a block takes no mask");
        if (!(comment.isUndefined() || comment.isNull() || comment.isString()) ||
            !PlainText(comment.toString(), 0, kMaxTextChars))
            return Error(400, "comment must be at most 200 characters without control characters");
        ConsoleAction action;
        action.kind = ConsoleAction::Kind::Ban;
        action.address = address.toString().toStdString();
        action.mask = mask.toString().toStdString();
        action.comment = comment.toString().toStdString();
        std::string target = action.address;
        if (!action.mask.empty())
            target += (action.mask[0] == '/' ? "" : " mask ") + action.mask;
        return Act(call, action, "ban", target, action.comment);
    }

    static size_t Entries(const QJsonObject& bans) { return size_t(bans.value("bans").toArray().size()); }

    Reply Unban(const Call& call)
    {
        const std::string address = call.request.query().queryItemValue("address").toStdString();
        if (!AddressOrBlock(address))
            return Error(400, "address must be a.b.c.d or a.b.c.d/N");
        ConsoleAction action;
        action.kind = ConsoleAction::Kind::Unban;
        action.address = address;
        const size_t before = Entries(backend.Bans());
        Reply r = Act(call, action, "unban", address, "");
        if (r.status == 200) {
            const size_t after = Entries(backend.Bans());
            r = Json(200, {{"removed", qint64(before > after ? before - after : 0)}});
        }
        return r;
    }

    Reply ServerAction(const Call& call)
    {
        if (!call.request.body().trimmed().isEmpty()) {
            const QJsonDocument doc = QJsonDocument::fromJson(call.request.body());
            if (!doc.isObject())
                return Error(400, "the body must be empty or a JSON object");
        }
        const std::string name = ActionName(call.request.url().path(), call.request.method());
        ConsoleAction action;
        action.kind = name == "start"     ? ConsoleAction::Kind::Start
                      : name == "stop"    ? ConsoleAction::Kind::Stop
                      : name == "restart" ? ConsoleAction::Kind::Restart
                                          : ConsoleAction::Kind::TakeOver;
        return Act(call, action, name, "server", "");
    }

    Reply Metrics(const Call& call)
    {
        const QHostAddress peer = call.request.remoteAddress();
        if (!call.caller && !(metricsOpen && peer.isLoopback()))
            return Error(401, "log in first");
        Reply r;
        r.body = QByteArray::fromStdString(MetricsText(backend.Metrics(), live.size(), ZPMONI_VERSION));
        r.type = "text/plain; version=0.0.4; charset=utf-8";
        return r;
    }

    // --- live ---

    static void Refuse(QWebSocket* socket, const char* why)
    {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QString::fromUtf8(why));
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(5000, socket, &QObject::deleteLater);
    }

    void SendTo(QWebSocket* socket, const QJsonObject& message)
    {
        socket->sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    }

    void AcceptLive(QWebSocket* socket)
    {
        const QNetworkRequest request = socket->request();
        const QUrl url = socket->requestUrl();
        if (!hosts || !hosts->HostAllowed(request.rawHeader("Host").toStdString()))
            return Refuse(socket, "wrong Host");
        if (url.path() != QLatin1String("/api/v1/live"))
            return Refuse(socket, "not found");
        RefreshOperators();
        auto auth = Authenticate(request.rawHeader("Authorization"), request.rawHeader("Cookie"),
                                 socket->peerAddress());
        if (std::holds_alternative<Reply>(auth))
            return Refuse(socket, "refused");
        const auto& caller = std::get<std::optional<Caller>>(auth);
        if (!caller)
            return Refuse(socket, "log in first");
        const std::string origin = socket->origin().toStdString();
        const bool originOk = origin.empty() ? caller->bearer : hosts->OriginAllowed(origin);
        if (!originOk)
            return Refuse(socket, "foreign origin");
        const QUrlQuery query(url);
        const auto events = Since(query, QStringLiteral("events"));
        const auto chat = Since(query, QStringLiteral("chat"));
        if (!events || !chat)
            return Refuse(socket, "events and chat must be numbers");
        if (live.size() >= kMaxLiveClients)
            return Refuse(socket, "too many live clients");

        socket->setProperty("operator", QString::fromStdString(caller->name));
        socket->setProperty("role", int(caller->role));
        if (!caller->bearer)
            socket->setProperty("session", QByteArray::fromStdString(SessionStore::KeyOf(caller->cookie)));
        else  // a token replaced (leaked, say) ends the sockets opened with it
            socket->setProperty("token", QByteArray::fromStdString(HashToken(request.rawHeader("Authorization").mid(7).toStdString())));
        live.push_back(socket);
        QObject::connect(socket, &QWebSocket::disconnected, &self, [this, socket] { Drop(socket); });
        for (const QJsonValue e : backend.Events(*events).value("events").toArray())
            SendTo(socket, {{"type", "event"}, {"event", e}});
        for (const QJsonValue c : backend.Chat(*chat).value("chat").toArray())
            SendTo(socket, {{"type", "chat"}, {"chat", c}});
        SendTo(socket, {{"type", "status"}, {"status", backend.Status()}});
        SendTo(socket, {{"type", "players"}, {"players", backend.Players()}});
    }

    void Drop(QWebSocket* socket)
    {
        const auto it = std::find(live.begin(), live.end(), socket);
        if (it == live.end())
            return;
        live.erase(it);
        socket->disconnect(&self);
        socket->abort();
        socket->deleteLater();
    }

    void TakeWebSockets()
    {
        while (http && http->hasPendingWebSocketConnections()) {
            std::unique_ptr<QWebSocket> socket = http->nextPendingWebSocketConnection();
            if (!socket)
                continue;
            QWebSocket* ws = socket.release();
            ws->setParent(&self);
            ws->setMaxAllowedIncomingFrameSize(kMaxLiveIncoming);
            ws->setMaxAllowedIncomingMessageSize(kMaxLiveIncoming);
            // Checked once Qt's handshake code has returned; closing from inside it warns.
            QTimer::singleShot(0, ws, [this, ws] { AcceptLive(ws); });
        }
    }

    void Publish(const QJsonObject& message)
    {
        if (live.empty())
            return;
        RefreshOperators();
        const QString text = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
        const int64_t now = Now();
        for (QWebSocket* socket : std::vector<QWebSocket*>(live)) {
            // A browser's socket ends with its session: logged out or expired.
            const QByteArray session = socket->property("session").toByteArray();
            if (socket->bytesToWrite() > kMaxLiveBacklog || (!session.isEmpty() && !sessions.Live(session.toStdString(), now)))
                Drop(socket);
            else
                socket->sendTextMessage(text);
        }
    }

    void Stop()
    {
        for (QWebSocket* socket : std::vector<QWebSocket*>(live))
            Drop(socket);
        http.reset();
        hosts.reset();
    }

    Status Refused(const std::string& line)
    {
        ErrorLog(line);
        return Failure{line};
    }

    Status Start(const WebOptions& options)
    {
        Stop();
        const auto listen = ParseListenAllowingZero(options.listen);
        if (!listen)
            return Refused("Console: Listen is not an address and port: " + Escaped(options.listen));
        const QHostAddress address(QString::fromStdString(listen->host));
        tls = !options.certFile.empty() && !options.keyFile.empty();
        if (!tls && (!options.certFile.empty() || !options.keyFile.empty()))
            return Refused("Console: CertFile and KeyFile must both be set for HTTPS");
        if (!tls && !address.isLoopback() && !options.allowPlainHttp)
            return Refused("Console: refusing plain HTTP on " + listen->host +
                           ", which is not loopback (set CertFile and KeyFile, or AllowPlainHttp=1)");

        QTcpServer* server = nullptr;
        if (tls) {
            auto cert = ReadBounded(options.certFile, "CertFile");
            if (!cert)
                return Refused(cert.error());
            auto key = ReadBounded(options.keyFile, "KeyFile");
            if (!key)
                return Refused(key.error());
            const QList<QSslCertificate> chain = QSslCertificate::fromData(cert.value(), QSsl::Pem);
            if (chain.isEmpty())
                return Refused("Console: CertFile " + Escaped(options.certFile) + ": no PEM certificate in it");
            QSslKey privateKey;
            for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
                privateKey = QSslKey(key.value(), algorithm, QSsl::Pem);
                if (!privateKey.isNull())
                    break;
            }
            if (privateKey.isNull())
                return Refused("Console: KeyFile " + Escaped(options.keyFile) +
                               ": no unencrypted PEM private key in it");
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setLocalCertificateChain(chain);
            config.setPrivateKey(privateKey);
            config.setProtocol(QSsl::TlsV1_2OrLater);
            config.setPeerVerifyMode(QSslSocket::VerifyNone);
            auto* ssl = new QSslServer();
            ssl->setSslConfiguration(config);
            QObject::connect(ssl, &QSslServer::startedEncryptionHandshake, ssl,
                             [open = std::make_shared<int>(0)](QSslSocket* socket) {
                                 if (!AttachBudget(socket, open))
                                     socket->abort();
                             });
            server = ssl;
        } else {
            server = new BudgetTcpServer();
        }
        if (!server->listen(address, listen->port)) {
            const std::string why = server->errorString().toStdString();
            delete server;
            return Refused("Console: cannot listen on " + listen->host + ":" + std::to_string(listen->port) +
                           ": " + Escaped(why));
        }
        http = std::make_unique<HttpFront>();
        http->handler = [this](const QHttpServerRequest& request, QHttpServerResponder& responder) {
            Send(responder, Dispatch(request));
        };
        QObject::connect(http.get(), &QAbstractHttpServer::newWebSocketConnection, &self,
                         [this] { TakeWebSockets(); });
        http->bind(server);  // the HTTP server owns it from here
        hosts.emplace(listen->host, server->serverPort(), options.hostNames, tls);
        metricsOpen = options.metricsOpen;
        pages.clear();
        for (QDirIterator it(QStringLiteral(":/web"), QDir::Files); it.hasNext();)
            pages.insert(QFileInfo(it.next()).fileName());
        return {};
    }
};

WebConsole::WebConsole(ConsoleBackend& backend, std::string workdir, Links links, QObject* parent)
    : QObject(parent), impl(std::make_unique<Impl>(*this, backend, std::move(workdir), std::move(links)))
{
    InitPages();
}

WebConsole::~WebConsole()
{
    impl->Stop();
}

Status WebConsole::Start(const WebOptions& options)
{
    return impl->Start(options);
}

void WebConsole::Stop()
{
    impl->Stop();
}

bool WebConsole::Listening() const
{
    return impl->http && !impl->http->servers().isEmpty() && impl->http->servers().front()->isListening();
}

uint16_t WebConsole::Port() const
{
    return Listening() ? impl->http->servers().front()->serverPort() : 0;
}

void WebConsole::Publish(const QJsonObject& message)
{
    impl->Publish(message);
}

size_t WebConsole::LiveClients() const
{
    return impl->live.size();
}

}  // namespace zpmoni
