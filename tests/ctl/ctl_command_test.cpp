// SPDX-License-Identifier: MIT
#include "ctl/ctl_command.h"
#include "support/temp_folder.h"

#include <QAbstractHttpServer>
#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>

using namespace zpmoni;

namespace {

// Answers every request with one canned status and body and keeps what it was asked; a live
// socket gets the canned messages, then is closed unless told to stay open.
class FakeConsole : public QAbstractHttpServer {
public:
    int status = 200;
    QByteArray body = "{}";
    std::string request, sentBody, authorization, liveQuery;
    QStringList live;
    bool keepLiveOpen = false;

    FakeConsole()
    {
        connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
            sockets.push_back(nextPendingWebSocketConnection());
            liveQuery = sockets.back()->requestUrl().query().toStdString();
            for (const QString& message : live)
                sockets.back()->sendTextMessage(message);
            if (!keepLiveOpen)
                sockets.back()->close();
            else  // the way an operator's Ctrl+C ends a follow
                QTimer::singleShot(200, [] { std::raise(SIGTERM); });
        });
        port = listen(QHostAddress::LocalHost, 0);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port); }

protected:
    bool handleRequest(const QHttpServerRequest& r, QTcpSocket* socket) override
    {
        if (r.value("Upgrade").toLower() == "websocket")
            return true;  // the live socket: answered as a WebSocket
        const char* method = r.method() == QHttpServerRequest::Method::Get    ? "GET"
                             : r.method() == QHttpServerRequest::Method::Post ? "POST"
                                                                              : "DELETE";
        request = std::string(method) + " " + r.url().path().toStdString();
        for (const auto& [key, value] : r.query().queryItems(QUrl::FullyDecoded))
            request += "?" + key.toStdString() + "=" + value.toStdString();
        sentBody = r.body().toStdString();
        authorization = r.value("Authorization").toStdString();
        makeResponder(r, socket).write(body, "application/json", QHttpServerResponder::StatusCode(status));
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    quint16 port = 0;
    std::vector<std::unique_ptr<QWebSocket>> sockets;
};

struct CtlRun {
    int exit;
    std::string out, err;
};

class CtlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "zpmoni_web_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        setenv("TZ", "UTC", 1);
        tzset();
    }

    CtlRun Ctl(std::vector<std::string> args, bool withUrl = true)
    {
        args.insert(args.begin(), {"--token-file", tokenFile});
        if (withUrl)
            args.insert(args.begin(), {"--url", console.Url()});
        char *o = nullptr, *e = nullptr;
        size_t on = 0, en = 0;
        FILE* out = open_memstream(&o, &on);
        FILE* err = open_memstream(&e, &en);
        static char name[] = "zpmoni";
        char* argv[] = {name, nullptr};
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
};

TEST_F(CtlTest, BadCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {}, {"bogus"}, {"status", "extra"}, {"say"}, {"ban"}, {"unban"}, {"unban", "a", "b"},
        {"status", "-f"}, {"--frob", "status"}, {"status", "--url"},
    };
    for (const auto& args : cases) {
        const CtlRun run = Ctl(args);
        EXPECT_EQ(run.exit, 2) << ::testing::PrintToString(args);
        EXPECT_NE(run.err.find("usage:"), std::string::npos) << ::testing::PrintToString(args);
        EXPECT_EQ(console.request, "");
    }
}

TEST_F(CtlTest, CommandsReachTheApiAndReportItsAnswer)
{
    const QByteArray status = R"({"statusLine":"Online 5","server":{"running":true,"pid":42,"upSince":0},
        "players":{"online":5,"flying":3},"rates":{"bytesInPerSecond":2100},"bans":{"entries":2,"installed":true}})";
    const QByteArray players = R"({"players":[{"user":"pi\u001b]0;x\u0007lot","aircraft":"F-15\u009b2J",
        "address":"198.51.100.11","port":51234,"logon":60}]})";
    struct Case {
        std::vector<std::string> args;
        int status;
        QByteArray answer;
        int exit;
        std::string request, sentBody, output;
    } cases[] = {
        {{"status"}, 200, status, 0, "GET /api/v1/status", "", "Players    5 online, 3 flying\n"},
        {{"status"}, 200, status, 0, "GET /api/v1/status", "", "running, pid 42, up since 1970-01-01 00:00:00"},
        {{"players"}, 200, players, 0, "GET /api/v1/players", "", "pi\\x1b]0;x\\x07lot  F-15\\u009b2J  198.51.100.11:51234"},
        {{"events"}, 200, R"({"last":1,"events":[{"seq":1,"time":61,"text":"a\rb"}]})", 0, "GET /api/v1/events", "",
         "1970-01-01 00:01:01 a\\x0db\n"},
        {{"say", "hello", "all"}, 200, R"({"ok":true})", 0, "POST /api/v1/chat", R"({"text":"hello all"})", "sent: hello all"},
        {{"say", "hi"}, 409, R"({"error":"not logged\non"})", 1, "POST /api/v1/chat", R"({"text":"hi"})", ""},
        {{"ban", "198.51.100.0", "255.255.255.0", "spam", "bot"}, 200, R"({"ok":true})", 0, "POST /api/v1/bans",
         R"({"address":"198.51.100.0","comment":"spam bot","mask":"255.255.255.0"})", "banned 198.51.100.0 mask"},
        {{"ban", "198.51.100.11", "flood"}, 200, R"({"ok":true})", 0, "POST /api/v1/bans",
         R"({"address":"198.51.100.11","comment":"flood","mask":""})", ""},
        {{"unban", "198.51.100.0/24&x=1"}, 200, R"({"removed":2})", 0, "DELETE /api/v1/bans?address=198.51.100.0/24&x=1",
         "", "2 entries of 198.51.100.0/24&x=1 removed"},
        {{"restart"}, 403, R"({"error":"viewers cannot act"})", 1, "POST /api/v1/server/restart", "", ""},
        {{"status"}, 401, R"({"error":"no credentials"})", 1, "GET /api/v1/status", "", ""},
        {{"status"}, 200, "<html>hello</html>", 2, "GET /api/v1/status", "", ""},
        {{"status"}, 500, R"({"error":"boom"})", 2, "GET /api/v1/status", "", ""},
    };
    for (const Case& c : cases) {
        console.status = c.status;
        console.body = c.answer;
        const CtlRun run = Ctl(c.args);
        const std::string what = ::testing::PrintToString(c.args) + " -> " + std::to_string(c.status);
        EXPECT_EQ(run.exit, c.exit) << what << run.err;
        EXPECT_EQ(console.request, c.request) << what;
        EXPECT_EQ(console.sentBody, c.sentBody) << what;
        EXPECT_EQ(console.authorization, "Bearer zpt_secret") << what;
        EXPECT_NE(run.out.find(c.output), std::string::npos) << what << "\n" << run.out;
        EXPECT_EQ(run.out.find_first_of("\x07\x1b\r"), std::string::npos) << what;
        EXPECT_EQ(run.err.find_first_of("\n\r"), run.err.size() - 1) << what << run.err;  // one line, escaped
        EXPECT_EQ(run.out.find("zpt_secret") + run.err.find("zpt_secret"), 2 * std::string::npos);
    }
}

TEST_F(CtlTest, JsonOutputIsTheAnswer)
{
    console.body = R"({"players":{"online":1},"statusLine":"x\u0001"})";
    const CtlRun run = Ctl({"--json", "status"});
    EXPECT_EQ(run.exit, 0);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(run.out)), QJsonDocument::fromJson(console.body));
    EXPECT_EQ(run.out.find('\x01'), std::string::npos);
}

TEST_F(CtlTest, ConsoleAddressComesFromTheSettingsListen)
{
    const std::string port = console.Url().substr(console.Url().rfind(':') + 1);
    const struct {
        std::string ini;
        int exit;
    } cases[] = {
        {"[Other]\nName=\x83\x65\x83\x58\x83\x67\n[Web]\nEnable=1\r\nListen = 127.0.0.1:" + port + "\n", 0},
        {"[Web]\nListen=127.0.0.1\n", 2},
        {"[Web]\nListen=somewhere:80\n", 2},
    };
    for (const auto& c : cases) {
        folder.Write("Zpmoni.ini", c.ini);
        console.request.clear();
        const CtlRun run = Ctl({"--workdir", folder.Path().string(), "status"}, false);
        EXPECT_EQ(run.exit, c.exit) << c.ini << run.err;
        EXPECT_EQ(console.request.empty(), c.exit != 0) << c.ini;
    }
}

TEST_F(CtlTest, NothingListeningIsUnreachable)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const std::string url = "http://127.0.0.1:" + std::to_string(closed.serverPort());
    closed.close();
    const CtlRun run = Ctl({"--url", url, "status"}, false);
    EXPECT_EQ(run.exit, 2);
    EXPECT_NE(run.err.find("cannot reach"), std::string::npos) << run.err;
}

TEST_F(CtlTest, FollowPrintsLiveLinesOnceUntilTheConnectionEnds)
{
    console.body = R"({"last":2,"events":[{"seq":2,"time":0,"text":"old"}]})";
    console.live = {R"({"type":"event","event":{"seq":3,"time":1,"text":"new\u001b[2J"}})",
                    R"({"type":"chat","chat":{"seq":9,"time":1,"text":"chat"}})",
                    R"({"type":"event","event":{"seq":2,"time":0,"text":"old"}})", "not json"};
    CtlRun run = Ctl({"events", "-f"});
    EXPECT_EQ(run.exit, 2) << run.err;
    EXPECT_EQ(console.liveQuery, "events=2");
    EXPECT_EQ(run.out, "1970-01-01 00:00:00 old\n1970-01-01 00:00:01 new\\x1b[2J\n") << run.err;

    run = Ctl({"--json", "events", "-f"});
    ASSERT_EQ(CountOf(run.out, "\n"), 2u) << run.out;
    for (const std::string& line : std::vector<std::string>{run.out.substr(0, run.out.find('\n')), run.out.substr(run.out.find('\n') + 1)})
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(line))["type"], "event") << line;

    console.keepLiveOpen = true;
    run = Ctl({"chat", "--follow"});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("00:00:01 chat\n"), std::string::npos) << run.out;
}

}  // namespace
