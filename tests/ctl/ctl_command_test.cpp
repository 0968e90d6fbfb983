// SPDX-License-Identifier: MIT
#include "ctl/ctl_command.h"
#include "support/temp_folder.h"
#include "web/operators.h"
#include "web/server/fake_backend.h"
#include "web/web_console.h"

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>

using namespace zpmoni;

namespace {

// Answers every request with one canned status and body, and keeps what it was asked: for the
// answers the monitor's own console never gives.
class FakeConsole : public QAbstractHttpServer {
public:
    int status = 200;
    QByteArray body = "{}";
    std::string request, authorization;

    const quint16 port = listen(QHostAddress::LocalHost, 0);
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port); }

protected:
    bool handleRequest(const QHttpServerRequest& r, QTcpSocket* socket) override
    {
        request = QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(r.method()))).toUpper().toStdString() +
                  " " + r.url().path().toStdString();
        for (const auto& [key, value] : r.query().queryItems(QUrl::FullyDecoded))
            request += "?" + key.toStdString() + "=" + value.toStdString();
        authorization = r.value("Authorization").toStdString();
        makeResponder(r, socket).write(body, "application/json", QHttpServerResponder::StatusCode(status));
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}
};

struct CtlRun { int exit; std::string out, err; };

class CtlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        EnsureApp();
        setenv("TZ", "UTC", 1);
        tzset();
    }

    CtlRun Ctl(std::vector<std::string> args, bool withUrl = true)
    {
        args.insert(args.begin(), {"--token-file", tokenFile});
        if (withUrl)
            args.insert(args.begin(), {"--url", url});
        static char name[] = "zpmoni";
        char *o = nullptr, *e = nullptr, *argv[] = {name, nullptr};
        size_t on = 0, en = 0;
        FILE *out = open_memstream(&o, &on), *err = open_memstream(&e, &en);
        const int exit = RunCtl(1, argv, args, out, err);
        std::fclose(out), std::fclose(err);
        CtlRun run{exit, std::string(o, on), std::string(e, en)};
        std::free(o), std::free(e);
        return run;
    }

    TempFolder folder;
    std::string tokenFile = folder.Write("token", "  zpt_secret \nsecond line\n");
    int privateToken = ::chmod(tokenFile.c_str(), 0600);
    FakeConsole console;
    std::string url = console.Url();  // the console that Ctl names
};

TEST_F(CtlTest, BadCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {"bogus"}, {"status", "extra"}, {"say"}, {"ban"}, {"unban"}, {"unban", "a", "b"},
        {"status", "-f"}, {"--frob", "status"}, {"status", "--url"}};
    for (const auto& args : cases) {
        const CtlRun run = Ctl(args);
        EXPECT_TRUE(run.exit == 2 && run.err.find("usage:") != std::string::npos) << ::testing::PrintToString(args) << run.err;
    }
    EXPECT_EQ(console.request, "");
}

TEST_F(CtlTest, CommandsReachTheApiAndReportItsAnswer)
{
    const QByteArray status = R"({"statusLine":"Online 5","server":{"running":true,"pid":42,"upSince":0},
        "players":{"online":5,"flying":3},"rates":{"bytesInPerSecond":2100},"bans":{"entries":2,"installed":true}})";
    const QByteArray players = R"({"players":[{"user":"pi\u001b]0;x\u0007lot","aircraft":"F-15\u009b2J",
        "address":"198.51.100.11","port":51234,"logon":60}]})";
    struct Case { std::vector<std::string> args; int status; QByteArray answer; int exit; std::string request, output; } cases[] = {
        {{"status"}, 200, status, 0, "GET /api/v1/status", "running, pid 42, up since 1970-01-01 00:00:00"},
        {{"players"}, 200, players, 0, "GET /api/v1/players", "pi\\x1b]0;x\\x07lot  F-15\\u009b2J  198.51.100.11:51234"},
        {{"events"}, 200, R"({"last":1,"events":[{"seq":1,"time":61,"text":"a\rb"}]})", 0, "GET /api/v1/events",
         "1970-01-01 00:01:01 a\\x0db\n"},
        {{"unban", "198.51.100.0/24&x=1"}, 200, R"({"removed":2})", 0, "DELETE /api/v1/bans?address=198.51.100.0/24&x=1",
         "2 entries of 198.51.100.0/24&x=1 removed"},
        {{"say", "hi"}, 409, R"({"error":"not logged\non"})", 1, "POST /api/v1/chat", ""},
        {{"status"}, 200, "<html>hello</html>", 2, "GET /api/v1/status", ""},
        {{"status"}, 500, R"({"error":"boom"})", 2, "GET /api/v1/status", ""},
    };
    for (const Case& c : cases) {
        console.status = c.status;
        console.body = c.answer;
        const CtlRun run = Ctl(c.args);
        const std::string what = ::testing::PrintToString(c.args) + " -> " + std::to_string(c.status);
        EXPECT_EQ(run.exit, c.exit) << what << run.err;
        EXPECT_EQ(console.request, c.request) << what;
        EXPECT_EQ(console.authorization, "Bearer zpt_secret") << what;
        EXPECT_NE(run.out.find(c.output), std::string::npos) << what << "\n" << run.out;
        EXPECT_EQ(run.out.find_first_of("\x07\x1b\r"), std::string::npos) << what;
        EXPECT_EQ(run.err.find_first_of("\n\r"), run.err.size() - 1) << what << run.err;  // one line, escaped
        EXPECT_EQ(run.out.find("zpt_secret") + run.err.find("zpt_secret"), 2 * std::string::npos);
    }
}

TEST_F(CtlTest, ConsoleAddressComesFromTheSettingsListen)
{
    const std::pair<std::string, int> cases[] = {
        {"[Other]\nName=\x83\x65\x83\x58\x83\x67\n[Web]\nEnable=1\r\nListen = 127.0.0.1:" + std::to_string(console.port) + "\n", 0},
        {"[Web]\nListen=127.0.0.1\n", 2}, {"[Web]\nListen=somewhere:80\n", 2}};
    for (const auto& [ini, exit] : cases) {
        folder.Write("Zpmoni.ini", ini);
        console.request.clear();
        const CtlRun run = Ctl({"--workdir", folder.Path().string(), "status"}, false);
        EXPECT_EQ(run.exit, exit) << ini << run.err;
        EXPECT_EQ(console.request.empty(), exit != 0) << ini;
    }
}

TEST_F(CtlTest, NothingListeningIsUnreachable)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    url = "http://127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();
    const CtlRun run = Ctl({"status"});
    EXPECT_TRUE(run.exit == 2 && run.err.find("cannot reach") != std::string::npos) << run.err;
}

// Against the monitor's own console: what ctl sends is what the console takes, and its refusals
// come back as exit status 1.
class CtlConsoleTest : public CtlTest {
protected:
    void SetUp() override
    {
        folder.Write("operators.txt", "alice admin " + HashToken("zpt_secret") + "\nbob viewer " + HashToken("zpt_viewer") + "\n");
        ::chmod(folder.File("operators.txt").c_str(), 0600);
        WebOptions options;
        options.listen = "127.0.0.1:0";
        ASSERT_TRUE(web.Start(options).ok());
        url = "http://127.0.0.1:" + std::to_string(web.Port());
    }
    FakeBackend backend;
    WebConsole web{backend, folder.Path().string(), {[](auto) {}, [](auto, auto, auto, auto) {}, [] { return 0; }}};
};

TEST_F(CtlConsoleTest, ActsThroughTheConsole)
{
    const std::string viewer = folder.Write("viewer", "zpt_viewer\n"), wrong = folder.Write("wrong", "zpt_wrong\n");
    ::chmod(viewer.c_str(), 0600), ::chmod(wrong.c_str(), 0600);
    using K = ConsoleAction::Kind;
    const struct { std::vector<std::string> args; std::string refuse; int exit; std::optional<K> performed;
                   std::string address, mask, text, output; } cases[] = {
        {{"status"}, "", 0, {}, "", "", "", "Status     Online 5\n"},
        {{"--json", "status"}, "", 0, {}, "", "", "", "{\"statusLine\":\"Online 5\"}\n"},
        {{"say", "hello", "all"}, "", 0, K::Say, "", "", "hello all", "sent: hello all\n"},
        {{"say", "hi"}, "client not logged on", 1, K::Say, "", "", "hi", ""},
        {{"ban", "198.51.100.0", "255.255.255.0", "spam", "bot"}, "", 0, K::Ban, "198.51.100.0", "255.255.255.0", "spam bot", "banned"},
        {{"ban", "198.51.100.0/24", "flood"}, "", 0, K::Ban, "198.51.100.0/24", "", "flood", ""},
        {{"unban", "198.51.100.11"}, "", 0, K::Unban, "198.51.100.11", "", "", "entries of 198.51.100.11 removed"},
        {{"restart"}, "", 0, K::Restart, "", "", "", ""},
        {{"--token-file", viewer, "stop"}, "", 1, {}, "", "", "", ""},
        {{"--token-file", wrong, "status"}, "", 1, {}, "", "", "", ""},
    };
    for (const auto& c : cases) {
        backend.performed.clear();
        backend.refuse = c.refuse;
        const CtlRun run = Ctl(c.args);
        const std::string what = ::testing::PrintToString(c.args);
        EXPECT_EQ(run.exit, c.exit) << what << run.err;
        EXPECT_NE(run.out.find(c.output), std::string::npos) << what << run.out;
        ASSERT_EQ(backend.performed.size(), c.performed ? 1u : 0u) << what;
        if (!c.performed)
            continue;
        const ConsoleAction& a = backend.performed[0];
        EXPECT_EQ(a.kind, *c.performed) << what;
        EXPECT_EQ(a.address + "|" + a.mask + "|" + (a.kind == K::Ban ? a.comment : a.text), c.address + "|" + c.mask + "|" + c.text) << what;
        EXPECT_NE(run.err.find(c.refuse), std::string::npos) << run.err;
    }
}

TEST_F(CtlConsoleTest, FollowsTheLiveSocket)
{
    const QJsonObject live[] = {
        {{"type", "event"}, {"event", QJsonObject{{"seq", 6}, {"time", 1}, {"text", "line\x1b" "6"}}}},
        {{"type", "chat"}, {"chat", QJsonObject{{"seq", 9}, {"time", 1}, {"text", "chat"}}}},
        {{"type", "event"}, {"event", QJsonObject{{"seq", 5}, {"time", 1}, {"text", "line 5 again"}}}},
    };
    // Once connected: a new event, a chat line and an old event; then Ctrl+C, or the console ends.
    for (const bool json : {false, true}) {
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (web.LiveClients() == 0 || ++ticks > 5)
                return;
            for (const QJsonObject& message : live)
                ticks == 1 ? web.Publish(message) : void();
            if (ticks == 5)
                json ? web.Stop() : void(std::raise(SIGTERM));
        });
        tick.start(20);
        const CtlRun run = Ctl(json ? std::vector<std::string>{"--json", "events", "-f"} : std::vector<std::string>{"events", "-f"});
        EXPECT_EQ(run.exit, json ? 2 : 0) << run.err;
        ASSERT_EQ(CountOf(run.out, "\n"), 6u) << run.out;
        const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
        if (json)
            EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(last)).object(), live[0]) << last;
        else
            EXPECT_EQ(run.out.substr(0, 9) + last, "- line 1\n1970-01-01 00:00:01 line\\x1b6\n") << run.out;
    }
}

// https when the settings name a certificate; verified, so a certificate of one's own needs --cacert.
TEST_F(CtlConsoleTest, VerifiesTheConsolesCertificate)
{
    if (QStandardPaths::findExecutable("openssl").isEmpty())
        GTEST_SKIP() << "no openssl";
    ASSERT_TRUE(MakeCertificate(folder.File("cert.pem"), folder.File("key.pem")));
    web.Stop();
    WebOptions options;
    options.listen = "127.0.0.1:0", options.certFile = folder.File("cert.pem"), options.keyFile = folder.File("key.pem");
    ASSERT_TRUE(web.Start(options).ok());
    folder.Write("Zpmoni.ini", "[Web]\nListen=127.0.0.1:" + std::to_string(web.Port()) + "\nCertFile=cert.pem\nKeyFile=key.pem\n");
    EXPECT_EQ(Ctl({"--workdir", folder.Path().string(), "--cacert", folder.File("cert.pem"), "status"}, false).exit, 0);
    const CtlRun unverified = Ctl({"--workdir", folder.Path().string(), "status"}, false);
    EXPECT_TRUE(unverified.exit == 2 && unverified.err.find("https://127.0.0.1") != std::string::npos) << unverified.err;
    EXPECT_EQ(Ctl({"--url", "http://127.0.0.1:" + std::to_string(web.Port()), "status"}, false).exit, 2);  // plain http
}

}  // namespace
