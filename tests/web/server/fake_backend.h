// SPDX-License-Identifier: MIT
#pragma once

#include "web/console_backend.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <vector>

namespace zpmoni {

// A monitor with events 1..5 and chat lines 1..2, two bans that an unban removes, and a record of
// every action handed to it; `refuse` makes every action fail with that reason.
struct FakeBackend : ConsoleBackend {
    std::vector<ConsoleAction> performed;
    std::string refuse;
    int bans = 2;

    static QJsonObject Lines(const char* key, uint64_t since, uint64_t last)
    {
        QJsonArray lines;
        for (uint64_t seq = since + 1; seq <= last; ++seq)
            lines.append(QJsonObject{{"seq", qint64(seq)}, {"text", QString("line %1").arg(seq)}});
        return {{"last", qint64(last)}, {key, lines}};
    }
    QJsonObject Status() override { return {{"statusLine", "Online 5"}}; }
    QJsonObject Rates() override { return {{"interval", 10}}; }
    QJsonArray Players() override { return {QJsonObject{{"user", "pilot1"}}}; }
    QJsonObject Events(uint64_t since) override { return Lines("events", since, 5); }
    QJsonObject Chat(uint64_t since) override { return Lines("chat", since, 2); }
    QJsonObject Bans() override { return {{"bans", QJsonArray::fromStringList(QStringList(bans, "b"))}}; }
    QJsonObject Server() override { return {{"schedule", QJsonArray()}}; }
    MetricsSnapshot Metrics() override { return MetricsSnapshot{5, 3, 0, 0, 0, 0, 0, 0, false, {}, 0, 0, false, 0}; }
    zpmoni::Status Perform(std::string_view, const ConsoleAction& action) override
    {
        performed.push_back(action);
        bans = action.kind == ConsoleAction::Kind::Unban && refuse.empty() ? 0 : bans;
        return refuse.empty() ? zpmoni::Status() : zpmoni::Status(Failure{refuse});
    }
};

// The test program's one QCoreApplication, made by the first test that needs it.
inline void EnsureApp()
{
    static int argc = 1;
    static char name[] = "zpmoni_web_tests", *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// A self-signed certificate for 127.0.0.1 with its key; false when openssl fails.
inline bool MakeCertificate(const std::string& cert, const std::string& key)
{
    QProcess make;
    make.start(QStandardPaths::findExecutable("openssl"),
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                "-days", "1", "-keyout", QString::fromStdString(key), "-out", QString::fromStdString(cert)});
    return make.waitForFinished() && make.exitStatus() == QProcess::NormalExit && make.exitCode() == 0;
}

}  // namespace zpmoni
