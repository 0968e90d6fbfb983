// SPDX-License-Identifier: MIT
#pragma once

#include "web/console_backend.h"

#include <QJsonArray>
#include <QJsonObject>

#include <vector>

namespace zpmoni {

// A monitor with numbered events and chat lines, a deny list that unbans shrink, and a record of
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
    QJsonObject Bans() override { return {{"installed", true}, {"bans", QJsonArray(QJsonArray::fromStringList(QStringList(bans, "b")))}}; }
    QJsonObject Server() override { return {{"schedule", QJsonArray()}}; }
    MetricsSnapshot Metrics() override
    {
        MetricsSnapshot m;
        m.playersOnline = 5;
        return m;
    }
    zpmoni::Status Perform(std::string_view, const ConsoleAction& action) override
    {
        performed.push_back(action);
        if (!refuse.empty())
            return Failure{refuse};
        if (action.kind == ConsoleAction::Kind::Unban)
            bans = 0;
        return {};
    }
};

}  // namespace zpmoni
