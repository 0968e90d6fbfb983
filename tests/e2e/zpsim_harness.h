// SPDX-License-Identifier: MIT
#pragma once

// Runs the stand-in server, its bots and the monitor side by side and reads their records.

#include "support/temp_folder.h"
#include "support/child_process.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

inline std::vector<QJsonObject> ReadRecord(const std::string& path)
{
    std::vector<QJsonObject> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (doc.isObject())
            lines.push_back(doc.object());
    }
    return lines;
}

inline size_t CountRecord(const std::string& path, const std::function<bool(const QJsonObject&)>& match)
{
    size_t n = 0;
    for (const QJsonObject& o : ReadRecord(path))
        n += match(o);
    return n;
}

inline bool IsEvent(const QJsonObject& o, const char* ev) { return o["ev"].toString() == ev; }

inline bool IsPacket(const QJsonObject& o, const char* dir, int type)
{
    return IsEvent(o, "pkt") && o["dir"].toString() == dir && o["type"].toInt() == type;
}

class ZpsimHarness {
public:
    ZpsimHarness() = default;

    // Starts the server on a free loopback port; its record goes to server.jsonl.
    void StartServer(const std::vector<std::string>& extra = {}, int port = 0)
    {
        std::vector<std::string> argv = {"/usr/bin/python3", ZPSIM, "server", "-server", "TEST",
                                         "-netport", std::to_string(port), "--bind", "127.0.0.1",
                                         "--no-console", "--record", ServerRecord()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const size_t listensBefore = CountRecord(ServerRecord(), [](auto& o) { return IsEvent(o, "listen"); });
        server = std::make_unique<ChildProcess>(argv, dir.File("server.out"));
        ASSERT_TRUE(WaitFor(
            [&] {
                return CountRecord(ServerRecord(), [](auto& o) { return IsEvent(o, "listen"); }) >
                       listensBefore;
            },
            std::chrono::seconds(10)))
            << "the stand-in server did not start";
        for (const QJsonObject& o : ReadRecord(ServerRecord())) {
            if (IsEvent(o, "listen"))
                this->port = o["port"].toInt();
        }
    }
    void StopServer() { server.reset(); }

    // Writes Zpmoni.ini and starts the monitor without windows in the test folder.
    void StartMonitor(const std::string& ini)
    {
        std::ofstream(dir.File("Zpmoni.ini")) << ini << "[ProgramData]\nPort=" << port << "\n";
        monitor = std::make_unique<ChildProcess>(
            std::vector<std::string>{ZPMONI_BINARY, "--headless", "--workdir", dir.path.string()},
            dir.File("monitor.out"));
    }

    // Runs one bot to its end; the record goes to bot-NAME.jsonl.
    void RunBots(const std::vector<std::vector<std::string>>& bots)
    {
        std::vector<std::unique_ptr<ChildProcess>> running;
        for (const auto& args : bots) {
            std::vector<std::string> argv = {"/usr/bin/python3", ZPSIM, "bot", "--host",
                                             "127.0.0.1", "--port", std::to_string(port),
                                             "--record", dir.File("bots.jsonl")};
            argv.insert(argv.end(), args.begin(), args.end());
            running.push_back(std::make_unique<ChildProcess>(argv, dir.File("bots.out")));
        }
        for (auto& b : running)
            EXPECT_TRUE(b->Wait(std::chrono::seconds(60))) << "a bot did not finish";
    }

    std::string ServerRecord() const { return dir.File("server.jsonl"); }

    // The connection number the server gave the monitor's latest log-on under `name`.
    int MonitorConnection(const std::string& name) const
    {
        int conn = -1;
        for (const QJsonObject& o : ReadRecord(ServerRecord())) {
            if (IsPacket(o, "in", 1) && o["user"].toString().toStdString() == name)
                conn = o["conn"].toInt();
        }
        return conn;
    }

    TempFolder dir;
    int port = 0;
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> monitor;
};
