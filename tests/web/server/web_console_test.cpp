// SPDX-License-Identifier: MIT
#include "support/temp_folder.h"
#include "web/server/fake_backend.h"
#include "web/operators.h"
#include "web/web_console.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSslSocket>
#include <QTcpServer>
#include <QWebSocket>
#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace zpmoni;

namespace {

const std::string kAdmin = "zpt_admin-token-for-the-console-tests-0123456";
const std::string kViewer = "zpt_viewer-token-for-the-console-tests-012345";
const std::string kWrong = "zpt_wrong-token-for-the-console-tests-0123456";
const std::string kCsp = "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'";

std::string Bearer(const std::string& token) { return "Authorization: Bearer " + token; }
std::string LogInBody(const std::string& token) { return R"({"token":")" + token + "\"}"; }

template <class F>
bool WaitFor(F done, int ms = 5000)
{
    QElapsedTimer t;
    for (t.start(); !done() && t.elapsed() < ms;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

struct Reply {
    int status = 0;  // 0: the connection ended without an answer
    std::string head, body;
    bool Has(std::string_view s) const { return (head + body).find(s) != std::string::npos; }
};

class Console : public ::testing::Test {
protected:
    int app = (EnsureApp(), 0);
    TempFolder dir;
    FakeBackend backend;
    int64_t now = 1'000'000;
    std::vector<std::string> errors, actions;
    WebConsole console{backend, dir.Path().string(),
                       {[this](std::string_view l) { errors.emplace_back(l); },
                        [this](auto who, auto action, auto target, auto comment) {
                            actions.push_back(std::string(who) + "|" + std::string(action) + "|" +
                                              std::string(target) + "|" + std::string(comment));
                        },
                        [this] { return now; }}};
    WebOptions options;
    std::vector<Reply> replies;  // every answer, scanned for tokens at the end

    void SetUp() override
    {
        options.listen = "127.0.0.1:0";
        WriteOperators(kAdmin, 0600);
        ASSERT_TRUE(console.Start(options).ok());
    }
    void TearDown() override
    {
        for (const Reply& r : replies)
            EXPECT_FALSE(r.Has(kAdmin) || r.Has(kViewer) || r.Has(kWrong)) << r.head << r.body;
    }
    void WriteOperators(const std::string& adminToken, mode_t mode)
    {
        dir.Write("operators.txt", "alice admin " + HashToken(adminToken) + "\nbob viewer " + HashToken(kViewer) + "\n");
        chmod(dir.File("operators.txt").c_str(), mode);
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(console.Port()); }

    Reply Call(const std::string& method, const std::string& path, const std::vector<std::string>& headers = {},
               const std::string& body = {}, const std::string& host = {}, bool tls = false)
    {
        std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + (host.empty() ? Host() : host) + "\r\n";
        for (const std::string& h : headers)
            request += h + "\r\n";
        request += (method == "GET" ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n") + "\r\n" + body;
        QSslSocket ssl;  // its plain mode warns on reads after the peer closed
        QTcpSocket plain, &s = tls ? ssl : plain;
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls ? ssl.connectToHostEncrypted("127.0.0.1", console.Port()) : plain.connectToHost(QHostAddress::LocalHost, console.Port());
        s.write(request.data(), qint64(request.size()));
        QByteArray data;
        WaitFor([&] {
            data += s.isReadable() ? s.readAll() : QByteArray();
            const qsizetype end = data.indexOf("\r\n\r\n"), at = data.indexOf("Content-Length: ");
            if (end < 0 || at < 0)
                return s.state() == QAbstractSocket::UnconnectedState;
            return data.size() >= end + 4 + data.mid(at + 16, data.indexOf("\r\n", at) - at - 16).toLongLong();
        });
        const qsizetype end = data.indexOf("\r\n\r\n");
        return replies.emplace_back(data.startsWith("HTTP/1.1 ") && end > 0
                                        ? Reply{data.mid(9, 3).toInt(), data.left(end).toStdString(), data.mid(end + 4).toStdString()}
                                        : Reply{});
    }
    // A log-in's session cookie ("zpmoni_session=...") and CSRF token.
    std::pair<std::string, std::string> LogIn(const std::string& token)
    {
        const Reply r = Call("POST", "/api/v1/login", {}, LogInBody(token));
        const size_t at = r.head.find("zpmoni_session="), from = r.body.find("\"csrf\":\"") + 8;
        return {r.head.substr(at, r.head.find(';', at) - at), r.body.substr(from, r.body.find('"', from) - from)};
    }
};

struct Endpoint { const char *method, *path, *body; bool admin; int ok = 200; };
const Endpoint kEndpoints[] = {
    {"GET", "/api/v1/status", "", false},          {"GET", "/api/v1/rates", "", false},
    {"GET", "/api/v1/players", "", false},         {"GET", "/api/v1/events?since=2", "", false},
    {"GET", "/api/v1/chat?since=0", "", false},    {"GET", "/api/v1/bans", "", false},
    {"GET", "/api/v1/server", "", false},          {"GET", "/api/v1/session", "", false},
    {"GET", "/metrics", "", false},                {"GET", "/api/v1/live", "", false, 400},
    {"POST", "/api/v1/logout", "", false},         {"POST", "/api/v1/chat", R"({"text":"hello all"})", true},
    {"POST", "/api/v1/bans", R"({"address":"198.51.100.7","mask":"/32","comment":"flood"})", true},
    {"DELETE", "/api/v1/bans?address=198.51.100.7", "", true},
    {"POST", "/api/v1/server/start", "", true},    {"POST", "/api/v1/server/stop", "", true},
    {"POST", "/api/v1/server/restart", "", true},  {"POST", "/api/v1/server/takeover", "", true},
};

// Each endpoint without credentials, with a wrong token, as viewer and as admin: what the role
// permits is answered, the rest refused; every action reaches the monitor once and is logged once,
// every viewer's attempt is logged as refused.
TEST_F(Console, AnswersEachEndpointByRole)
{
    for (const Endpoint& e : kEndpoints) {
        now += 61;  // the wrong tokens stay under the log-in limit
        const std::pair<std::vector<std::string>, int> cases[] = {
            {{}, 401}, {{Bearer(kWrong)}, 401}, {{Bearer(kViewer)}, e.admin ? 403 : e.ok}, {{Bearer(kAdmin)}, e.ok}};
        for (const auto& [headers, status] : cases) {
            const Reply r = Call(e.method, e.path, headers, e.body);
            EXPECT_EQ(r.status, status) << e.method << " " << e.path << " " << (headers.empty() ? "" : headers[0]);
            EXPECT_TRUE(r.Has(kCsp) && r.Has("X-Content-Type-Options: nosniff")) << r.head;
        }
    }
    EXPECT_EQ(backend.performed.size(), 7u);
    // Every viewer's attempt refused; each of alice's, but the ban and the unban, whose line
    // the deny list writes.
    int refused = 0, bans = 0;
    for (const std::string& a : actions)
        refused += a.ends_with("|refused: a viewer may not act"), bans += a.find("|ban|") != std::string::npos;
    EXPECT_TRUE(actions.size() == 12 && refused == 7 && bans == 1) << ::testing::PrintToString(actions);
    EXPECT_EQ(Call("GET", "/nothing", {Bearer(kAdmin)}).status, 404);
    EXPECT_EQ(Call("PUT", "/api/v1/bans", {Bearer(kAdmin)}).status, 405);
    const Reply page = Call("GET", "/");
    EXPECT_TRUE(page.status == 200 && page.Has("Content-Type: text/html")) << page.head;
    EXPECT_EQ(Call("GET", "/static/../web.qrc").status, 404);
}

// Host names other than the console's get 421, foreign origins 403, on requests and the WebSocket.
TEST_F(Console, RefusesForeignHostsAndOrigins)
{
    const std::string port = std::to_string(console.Port());
    const std::tuple<std::string, std::string, int> cases[] = {
        {"evil.example:" + port, "X-None: 1", 421}, {"127.0.0.1:1", "X-None: 1", 421}, {"localhost:" + port, "X-None: 1", 200},
        {"", "Origin: http://evil.example:" + port, 403}, {"", "Origin: https://127.0.0.1:" + port, 403},
        {"", "Origin: http://127.0.0.1:" + port, 200}};
    for (const auto& [host, origin, status] : cases)
        EXPECT_EQ(Call("POST", "/api/v1/server/start", {Bearer(kAdmin), origin}, "", host).status, status) << host << origin;
    // A WebSocket with a foreign Host is closed (1008) before a message is sent.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, console.Port());
    raw.write(("GET /api/v1/live HTTP/1.1\r\nHost: evil.example:" + port + "\r\n" + Bearer(kAdmin) +
               "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n").c_str());
    QByteArray data;
    WaitFor([&] { return (data += raw.readAll()).contains("\r\n\r\n\x88"); });
    const QByteArray frames = data.mid(data.indexOf("\r\n\r\n") + 4);
    EXPECT_TRUE(frames.startsWith("\x88") && frames.mid(2, 2) == QByteArray("\x03\xf0", 2)) << data.toStdString();
}

// The browser's way in: five wrong tokens, then 429 even for a right one until the minute is over;
// then a session whose state changes need its CSRF token and the console's Origin.
TEST_F(Console, LogsInWithCookieAndChecksCsrf)
{
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Call("POST", "/api/v1/login", {}, LogInBody(kWrong)).status, 401);
    EXPECT_EQ(Call("POST", "/api/v1/login", {}, LogInBody(kAdmin)).status, 429);
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status, 429);
    EXPECT_EQ(errors, std::vector<std::string>(5, "Console: log-in failed from 127.0.0.1"));
    now += 61;
    auto [session, csrf] = LogIn(kAdmin);
    const Reply& login = replies.back();
    EXPECT_TRUE(login.Has("; HttpOnly; SameSite=Strict; Path=/") && !login.Has("Secure") && login.Has(R"("operator":"alice")"));
    const std::string cookie = "Cookie: " + session;
    const std::string origin = "Origin: http://" + Host();
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{cookie}, 403}, {{cookie, origin}, 403}, {{cookie, origin, "X-CSRF-Token: " + std::string(43, 'A')}, 403},
        {{cookie, "X-CSRF-Token: " + csrf}, 403}, {{cookie, "origin: http://" + Host(), "x-csrf-token: " + csrf}, 200}};
    for (const auto& [headers, status] : cases)
        EXPECT_EQ(Call("POST", "/api/v1/server/stop", headers).status, status) << headers.size();
    EXPECT_EQ(backend.performed.size(), 1u);
    EXPECT_TRUE(Call("GET", "/api/v1/session", {cookie}).Has(csrf));
    EXPECT_EQ(Call("POST", "/api/v1/logout", {cookie, origin, "X-CSRF-Token: " + csrf}).status, 200);
    EXPECT_EQ(Call("GET", "/api/v1/session", {cookie}).status, 401);
}

// Bodies over 64 KiB get 413 (or the connection is cut when far over), and the console goes on.
TEST_F(Console, RefusesLargeBodies)
{
    EXPECT_EQ(Call("POST", "/api/v1/chat", {Bearer(kAdmin)}, std::string(70 * 1024, 'x')).status, 413);
    EXPECT_EQ(Call("POST", "/api/v1/chat", {Bearer(kAdmin)}, std::string(4 << 20, 'x')).status, 0);
    EXPECT_TRUE(backend.performed.empty());
    EXPECT_EQ(Call("POST", "/api/v1/chat", {Bearer(kAdmin)}, R"({"text":"still here"})").status, 200);
    // Idle connections hold no more than their share: beyond it new ones are closed at once.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    EXPECT_TRUE(WaitFor([&] {
        for (int i = 0; i < 16; ++i)
            idle.emplace_back(std::make_unique<QTcpSocket>())->connectToHost(QHostAddress::LocalHost, console.Port());
        return Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status == 0;
    }));
    idle.clear();
    EXPECT_TRUE(WaitFor([&] { return Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status == 200; }));
}

// Malformed input is 400 and never reaches the monitor; a refusal by the monitor is 409 and logged.
TEST_F(Console, ChecksInputBeforeActing)
{
    const std::string c201 = std::string(201, 'c');
    const std::pair<const char*, std::string> cases[] = {
        {"/api/v1/bans", R"({"address":"198.51.100.256"})"}, {"/api/v1/bans", R"({"address":"198.51.100.0/33"})"},
        {"/api/v1/bans", R"({"address":"198.51.100"})"}, {"/api/v1/bans", R"({"address":"198.51.100.1","mask":"255.0"})"},
        {"/api/v1/bans", R"({"address":"198.51.100.0/24","mask":"/8"})"}, {"/api/v1/bans", R"({"address":7})"},
        {"/api/v1/bans", R"({"address":"198.51.100.1","comment":"a\u0001b"})"},
        {"/api/v1/bans", R"({"address":"198.51.100.1","comment":")" + c201 + "\"}"}, {"/api/v1/bans", "[1]"},
        {"/api/v1/chat", R"({"text":""})"}, {"/api/v1/chat", R"({"text":"a\nb"})"}, {"/api/v1/chat", "{\"text\":\"" + c201 + "\"}"},
        {"/api/v1/chat", "not json"}, {"/api/v1/server/start", "[]"}, {"/api/v1/login", "[]"}};
    for (const auto& [path, body] : cases)
        EXPECT_EQ(Call("POST", path, {Bearer(kAdmin)}, body).status, 400) << body;
    EXPECT_EQ(Call("DELETE", "/api/v1/bans?address=198.51.100.x", {Bearer(kAdmin)}).status, 400);
    EXPECT_EQ(Call("GET", "/api/v1/events?since=-1", {Bearer(kAdmin)}).status, 400);
    EXPECT_TRUE(backend.performed.empty());
    EXPECT_TRUE(Call("DELETE", "/api/v1/bans?address=198.51.100.0/24", {Bearer(kAdmin)}).Has(R"({"removed":2})"));
    backend.refuse = "the packet filter is not installed";
    const Reply r = Call("POST", "/api/v1/bans", {Bearer(kAdmin)}, R"({"address":"198.51.100.9","mask":"255.255.255.0"})");
    EXPECT_TRUE(r.status == 409 && r.Has(backend.refuse)) << r.body;
    EXPECT_TRUE(Call("POST", "/api/v1/server/stop", {Bearer(kAdmin)}).Has(backend.refuse));
    EXPECT_EQ(actions.back(), "web:alice|stop|server|refused: " + backend.refuse);
}

// The live socket: refused (1008, nothing sent) without an accepted Origin for a cookie or a
// foreign one for a bearer; accepted, it first sends what the client missed, then live messages.
TEST_F(Console, LiveSocketResumesAndChecksOrigin)
{
    const auto [cookie, csrf] = LogIn(kViewer);
    const QString good = QString::fromStdString("http://" + Host()), evil = "http://evil.example";
    const std::tuple<std::string, std::string, QString, bool> cases[] = {
        {"Cookie", cookie, "", false}, {"Cookie", cookie, evil, false}, {"Authorization", "Bearer " + kWrong, "", false},
        {"Authorization", "Bearer " + kViewer, evil, false}, {"Authorization", "Bearer " + kViewer, "", true},
        {"Cookie", cookie, good, true}};
    for (const auto& [header, value, origin, accepted] : cases) {
        QWebSocket ws(origin);
        std::vector<QJsonObject> got;
        QObject::connect(&ws, &QWebSocket::textMessageReceived,
                         [&](const QString& m) { got.push_back(QJsonDocument::fromJson(m.toUtf8()).object()); });
        QNetworkRequest request(QUrl(QString::fromStdString("ws://" + Host() + "/api/v1/live?events=3&chat=1")));
        request.setRawHeader(header.c_str(), value.c_str());
        ws.open(request);
        if (!accepted) {
            EXPECT_TRUE(WaitFor([&] { return ws.state() == QAbstractSocket::UnconnectedState; }) &&
                        ws.closeCode() == QWebSocketProtocol::CloseCodePolicyViolated && got.empty()) << value;
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return got.size() >= 5; })) << value;
        EXPECT_EQ(console.LiveClients(), 1u);
        console.Publish({{"type", "server"}, {"log", QJsonObject{{"text", "Server started"}}}});
        ASSERT_TRUE(WaitFor([&] { return got.size() >= 6; }));
        QStringList seen;
        for (const QJsonObject& m : got)
            seen.append(m["type"].toString() + QString::number(m[m["type"].toString()]["seq"].toInt()));
        EXPECT_EQ(seen, (QStringList{"event4", "event5", "chat2", "status0", "players0", "server0"}));
        EXPECT_TRUE(Call("GET", "/metrics", {Bearer(kViewer)}).Has("zpmoni_console_live_clients 1"));
        if (header == "Cookie") {  // a browser's socket ends with its session
            EXPECT_EQ(Call("POST", "/api/v1/logout", {"Cookie: " + cookie, "Origin: " + good.toStdString(), "X-CSRF-Token: " + csrf}).status, 200);
            console.Publish({{"type", "server"}});
        } else {
            ws.close();
        }
        EXPECT_TRUE(WaitFor([&] { return console.LiveClients() == 0; }));
    }
}

// A live client that reads nothing is dropped once far behind; one whose operator is gone, too.
TEST_F(Console, DropsSlowAndRevokedLiveClients)
{
    QTcpSocket slow;
    slow.setReadBufferSize(4096);
    slow.connectToHost(QHostAddress::LocalHost, console.Port());
    slow.write(("GET /api/v1/live HTTP/1.1\r\nHost: " + Host() + "\r\n" + Bearer(kViewer) +
                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                "Sec-WebSocket-Version: 13\r\n\r\n").c_str());
    ASSERT_TRUE(WaitFor([&] { return console.LiveClients() == 1; }));
    for (int i = 0; i < 100 && console.LiveClients() == 1; ++i) {
        console.Publish({{"type", "chat"}, {"chat", QString(256 * 1024, 'x')}});
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(console.LiveClients(), 0u);
    // alice's socket ends when the file is refused, and when she is given a new token.
    for (const auto& [token, mode] : {std::pair(kAdmin, 0640), std::pair(kWrong, 0600)}) {
        QWebSocket ws;
        QNetworkRequest request(QUrl(QString::fromStdString("ws://" + Host() + "/api/v1/live")));
        request.setRawHeader("Authorization", ("Bearer " + kAdmin).c_str());
        ws.open(request);
        ASSERT_TRUE(WaitFor([&] { return console.LiveClients() == 1; }));
        WriteOperators(token, mode_t(mode));
        now += 1;
        console.Publish({{"type", "server"}});
        EXPECT_EQ(console.LiveClients(), 0u) << mode;
        EXPECT_TRUE(WaitFor([&] { return ws.state() == QAbstractSocket::UnconnectedState; }));
        WriteOperators(kAdmin, 0600);
        now += 1;
    }
}

// /metrics needs a token unless opened, and then only from loopback.
TEST_F(Console, ServesMetricsOpenOrWithToken)
{
    EXPECT_TRUE(Call("GET", "/metrics", {Bearer(kViewer)}).Has("text/plain; version=0.0.4; charset=utf-8\r\n"));
    options.metricsOpen = true;
    ASSERT_TRUE(console.Start(options).ok());
    EXPECT_TRUE(Call("GET", "/metrics").Has("zpmoni_players_online 5\n"));
}

// operators.txt is read again when it changes; one others can read lets nobody in.
TEST_F(Console, ReloadsOperators)
{
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status, 200);
    WriteOperators(kWrong, 0644);
    now += 1;
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kViewer)}).status, 401);
    // The file's line, then the refused token's.
    EXPECT_TRUE(errors.size() == 2 && errors[0].starts_with("Console: nobody can log in: ")) << ::testing::PrintToString(errors);
    chmod(dir.File("operators.txt").c_str(), 0600);
    now += 1;
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kWrong)}).status, 200);
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status, 401);
}

// Plain HTTP only on loopback unless allowed; bad addresses, half a TLS setting and a port in
// use are refused with an error-log line.
TEST_F(Console, RefusesUnsafeOrImpossibleListening)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    WebOptions cases[4];
    cases[0].listen = "198.51.100.1:8790", cases[1].listen = "localhost:8790", cases[2].certFile = "cert.pem";
    cases[3].listen = "127.0.0.1:" + std::to_string(taken.serverPort());
    for (const WebOptions& o : cases) {
        errors.clear();
        EXPECT_FALSE(console.Start(o).ok() || console.Listening()) << o.listen;
        EXPECT_TRUE(errors.size() == 1 && errors[0].starts_with("Console: ")) << o.listen;
    }
    EXPECT_FALSE(ParseListen("127.0.0.1:0"));
    EXPECT_EQ(ParseListen("127.0.0.1:8790")->port, 8790);
}

// With a certificate and key the console speaks TLS only, and its cookie is Secure.
TEST_F(Console, ServesTls)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty())
        GTEST_SKIP() << "no openssl";
    options.certFile = dir.File("cert.pem"), options.keyFile = dir.File("key.pem");
    ASSERT_TRUE(MakeCertificate(options.certFile, options.keyFile));
    ASSERT_TRUE(console.Start(options).ok()) << errors.back();
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kAdmin)}, "", "", true).status, 200);
    EXPECT_TRUE(Call("POST", "/api/v1/login", {}, LogInBody(kAdmin), "", true).Has("; Secure"));
    for (int i = 0; i < 130; ++i)  // failed handshakes leave no connection behind
        EXPECT_NE(Call("GET", "/api/v1/status", {Bearer(kAdmin)}).status, 200);
    EXPECT_EQ(Call("GET", "/api/v1/status", {Bearer(kAdmin)}, "", "", true).status, 200);
}

}  // namespace
