// SPDX-License-Identifier: MIT
#pragma once

// Runs the stand-in server, its bots and the monitor side by side (on loopback, or each side in
// a namespace of its own) and reads what they record and print.

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<QJsonObject> ReadRecord(const std::string& path)
{
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(ReadText(path))) {
        QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        if (doc.isObject())
            objects.push_back(doc.object());
    }
    return objects;
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
    // serverSide and playerSide go before the commands of each side (a namespace's "ip netns
    // exec NAME"); host is the server's address.
    explicit ZpsimHarness(std::vector<std::string> serverSide = {}, std::vector<std::string> playerSide = {},
                          std::string host = "127.0.0.1")
        : serverSide(std::move(serverSide)), playerSide(std::move(playerSide)), host(std::move(host))
    {
    }

    // Starts the server (a free port when 0) and waits for it to listen; server.jsonl records.
    void StartServer(const std::vector<std::string>& extra = {}, int atPort = 0)
    {
        const auto listening = [&] { return CountRecord(ServerRecord(), [](auto& o) { return IsEvent(o, "listen"); }); };
        const size_t before = listening();
        server = Start(serverSide, {"/usr/bin/python3", ZPSIM, "server", "-server", "TEST", "-netport",
                                    std::to_string(atPort), "--bind", host, "--no-console", "--record",
                                    ServerRecord()},
                       extra, "server.out");
        ASSERT_TRUE(WaitFor([&] { return listening() > before; }, std::chrono::seconds(10)))
            << "the stand-in server did not start: " << dir.Read("server.out");
        for (const QJsonObject& o : ReadRecord(ServerRecord()))
            port = IsEvent(o, "listen") ? o["port"].toInt() : port;
    }

    // Writes Zpmoni.ini (with the server's port) and starts the monitor without windows;
    // `wrapper` goes before the program.
    void StartMonitor(const std::string& ini, const std::vector<std::string>& wrapper = {})
    {
        dir.Write("Zpmoni.ini", ini + "[ProgramData]\nPort=" + std::to_string(port) + "\n");
        std::vector<std::string> side = serverSide;
        side.insert(side.end(), wrapper.begin(), wrapper.end());
        monitor = Start(side, {ZPMONI_BINARY, "--headless", "--workdir", dir.path.string()}, {}, "monitor.out");
    }

    // One bot (or `bots`, several) on the players' side; bots.jsonl records.
    std::unique_ptr<ChildProcess> Bot(const std::vector<std::string>& args, const char* command = "bot")
    {
        return Start(playerSide, {"/usr/bin/python3", ZPSIM, command, "--host", host, "--port",
                                  std::to_string(port), "--record", dir.File("bots.jsonl")},
                     args, "bots.out");
    }
    // Runs bots side by side to their ends.
    void RunBots(const std::vector<std::vector<std::string>>& bots)
    {
        std::vector<std::unique_ptr<ChildProcess>> running;
        for (const auto& args : bots)
            running.push_back(Bot(args));
        for (auto& b : running)
            EXPECT_TRUE(b->Wait(std::chrono::seconds(60)) && b->ExitStatus() == 0) << dir.Read("bots.out");
    }

    std::string ServerRecord() const { return dir.File("server.jsonl"); }
    // The monitor's output from byte `from` on, as lines.
    std::vector<std::string> Output(size_t from = 0) const
    {
        const std::string all = dir.Read("monitor.out");
        return Lines(from < all.size() ? all.substr(from) : "");
    }

    const std::vector<std::string> serverSide;
    const std::vector<std::string> playerSide;
    const std::string host;
    TempFolder dir;
    int port = 0;
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> monitor;

private:
    std::unique_ptr<ChildProcess> Start(std::vector<std::string> argv, const std::vector<std::string>& command,
                                        const std::vector<std::string>& extra, const char* output)
    {
        argv.insert(argv.end(), command.begin(), command.end());
        argv.insert(argv.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(argv, dir.File(output));
    }
};
