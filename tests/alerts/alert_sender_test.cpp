// SPDX-License-Identifier: MIT
#include "alerts/alert_service.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace zpmoni;

namespace {

// A webhook on 127.0.0.1 that keeps every body it gets and answers 200, 500 or nothing.
class Sink : public QObject {
public:
    enum Answer { Ok, Fail, Never };
    explicit Sink(Answer answer) : answer(answer)
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection())
                connect(s, &QTcpSocket::readyRead, this, [this, s] { Read(s); });
        });
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/hook"; }
    std::vector<QJsonObject> bodies;

private:
    void Read(QTcpSocket* s)
    {
        QByteArray& data = pending[s];
        data += s->readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        const qsizetype length = data.toLower().indexOf("content-length:");
        if (end < 0 || length < 0)
            return;
        const qsizetype size = data.mid(length + 15, data.indexOf("\r\n", length) - length - 15).trimmed().toLongLong();
        if (data.size() < end + 4 + size)
            return;
        bodies.push_back(QJsonDocument::fromJson(data.mid(end + 4, size)).object());
        data.remove(0, end + 4 + size);
        if (answer != Never)
            s->write(answer == Ok ? "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"
                                  : "HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n");
    }
    Answer answer;
    QTcpServer server;
    std::map<QTcpSocket*, QByteArray> pending;
};

struct AlertSenderTest : ::testing::Test {
    int argc = 1;
    char name[8] = "test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    ManualClock clock;
    std::vector<std::string> errors;
    AlertService alerts{clock, [this](std::string_view line) { errors.emplace_back(line); }};

    template <class F> void Spin(int ms, F done)
    {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
};

// The sink gets each alert as Discord's body, names from the network readable and escaped; a
// burst of one kind comes as one alert now and one with the count when the quiet period ends.
TEST_F(AlertSenderTest, WebhookGetsShapedBodies)
{
    Sink sink(Sink::Ok);
    MonitorSettings s;
    s.alertUrl2 = sink.Url();
    s.alertFormat = "discord";
    alerts.Configure(s);
    for (int i = 0; i < 4; ++i)
        alerts.Raise(AlertKind::ServerDown, "Server down " + std::to_string(i));
    alerts.Raise(AlertKind::BanAdded, "Ban added: \x83\x65\x83\x58\x83\x67 \"q\"\x01");
    Spin(5000, [&] { return sink.bodies.size() >= 2; });
    clock.seconds += 300;
    Spin(5000, [&] { return sink.bodies.size() >= 3; });
    std::vector<std::string> got;
    for (const QJsonObject& o : sink.bodies) {
        const std::string text = o[u"content"].toString().toStdString();
        got.push_back(text.substr(text.find(']') + 2));
    }
    EXPECT_EQ(got, (std::vector<std::string>{
                       "1970-01-01 00:00:00 Server down 0", "1970-01-01 00:00:00 Ban added: テスト \"q\"\x01",
                       "1970-01-01 00:00:00 Server down 3 (the latest of 3 like this since the previous alert)"}));
    EXPECT_TRUE(errors.empty());
}

// Webhooks that answer 500 or never answer: the loop's 10 ms timer keeps running, each failing
// webhook is in the error log once, and an address that is not http is refused.
TEST_F(AlertSenderTest, FailingWebhooksNeverHoldTheLoop)
{
    Sink failing(Sink::Fail), silent(Sink::Never);
    MonitorSettings s;
    s.alertUrl1 = failing.Url();
    s.alertUrl2 = silent.Url();
    s.alertUrl3 = "file:///etc/passwd";
    s.alertQuietSeconds = 0;
    alerts.Configure(s, 1000);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    for (int i = 0; i < 150; ++i)
        alerts.Raise(static_cast<AlertKind>(i % kAlertKinds), "event " + std::to_string(i));
    Spin(1500, [] { return false; });
    EXPECT_GE(ticks, 50);
    EXPECT_EQ(failing.bodies.size(), 1u);  // waiting out its first pause
    EXPECT_EQ(silent.bodies.size(), 1u);
    EXPECT_EQ(alerts.Totals().dropped, 100u);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Alerts Url3 is not an http or https address; it is not used",
                          "Alert webhook Url1 failed: HTTP 500; each alert is retried for up to 10 minutes",
                          "Alert webhook Url2 failed: no answer in 1 s; each alert is retried for up to 10 minutes"}));
}

}  // namespace
