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

// A webhook on 127.0.0.1 that keeps the text of every body it gets and answers 200, 500 or nothing.
struct Sink : QTcpServer {
    explicit Sink(const char* answer) : answer(answer)
    {
        EXPECT_TRUE(listen(QHostAddress::LocalHost));
        connect(this, &QTcpServer::newConnection, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, [this, s, data = QByteArray()]() mutable {
                data += s->readAll();
                const QJsonObject body = QJsonDocument::fromJson(data.mid(data.indexOf("\r\n\r\n") + 4)).object();
                if (body.isEmpty())
                    return;  // not all of it yet
                const std::string text = body[u"content"].toString().toStdString();
                texts.push_back(text.substr(text.find(']') + 2));
                data.clear();
                s->write(this->answer);
            });
        });
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(serverPort()) + "/hook"; }
    const char* answer;
    std::vector<std::string> texts;
};

// Four webhooks: one that takes everything, one that answers 500, one that never answers and one
// that is no http address. The first gets Discord's bodies, Shift_JIS names readable and control
// bytes intact; a burst of one kind comes as one alert now and one with the count once the quiet
// period is over. The failing ones are each in the error log once, and the event loop's 10 ms
// timer keeps running all along.
TEST(AlertService, PostsToWebhooksWithoutHoldingTheLoop)
{
    int argc = 1;
    char* argv[] = {const_cast<char*>("test"), nullptr};
    QCoreApplication app(argc, argv);
    ManualClock clock;
    std::vector<std::string> errors;
    AlertService alerts(clock, [&](std::string_view line) { errors.emplace_back(line); });
    Sink ok("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), failing("HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n"),
        silent("");
    MonitorSettings s;
    s.alertUrl1 = ok.Url(), s.alertUrl2 = failing.Url(), s.alertUrl3 = silent.Url(), s.alertUrl4 = "file:///etc";
    s.alertFormat = "discord";
    alerts.Configure(s, 1000);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    for (int i = 0; i < 4; ++i)
        alerts.Raise(AlertKind::ServerDown, "Server down " + std::to_string(i));
    alerts.Raise(AlertKind::BanAdded, "Ban added: \x83\x65\x83\x58\x83\x67 \"q\"\x01");
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_GE(ticks, 80);  // of 150: a request that held the loop would take 100 of them
    EXPECT_EQ(failing.texts.size(), 1u);  // waiting out its first pause
    EXPECT_EQ(silent.texts.size(), 1u);
    clock.seconds += 300;
    while (ok.texts.size() < 3 && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(ok.texts, (std::vector<std::string>{
                            "1970-01-01 00:00:00 Server down 0", "1970-01-01 00:00:00 Ban added: テスト \"q\"\x01",
                            "1970-01-01 00:00:00 Server down 3 (the latest of 3 like this since the previous alert)"}));
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "Alerts Url4 is not an http or https address; it is not used",
                          "Alert webhook Url2 failed: HTTP 500; each alert is retried for up to 10 minutes",
                          "Alert webhook Url3 failed: no answer in 1 s; each alert is retried for up to 10 minutes"}));
}

}  // namespace
