// SPDX-License-Identifier: MIT
#pragma once

// Runs the stand-in server, its bots and the monitor side by side (on loopback, or each side in
// a namespace of its own) and reads what they record and print.

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>


inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The JSON lines of a record that match.
inline std::vector<QJsonObject> Record(const std::string& path, const std::function<bool(const QJsonObject&)>& match)
{
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(ReadText(path))) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (!o.isEmpty() && match(o))
            objects.push_back(o);
    }
    return objects;
}

inline std::vector<QJsonObject> ReadRecord(const std::string& path) { return Record(path, [](auto&) { return true; }); }
inline size_t CountRecord(const std::string& path, const std::function<bool(const QJsonObject&)>& match)
{
    return Record(path, match).size();
}

inline bool IsEvent(const QJsonObject& o, const char* ev) { return o["ev"].toString() == ev; }
inline bool IsPacket(const QJsonObject& o, const char* dir, int type)
{
    return IsEvent(o, "pkt") && o["dir"].toString() == dir && o["type"].toInt() == type;
}

struct ZpsimHarness {
    // Each side's commands are prefixed with its namespace's "ip netns exec NAME", if any; the
    // server listens at `host`.
    explicit ZpsimHarness(std::vector<std::string> serverSide = {}, std::vector<std::string> playerSide = {},
                          std::string host = "127.0.0.1")
        : serverSide(std::move(serverSide)), playerSide(std::move(playerSide)), host(std::move(host))
    {
    }

    // Starts the server (on a free port when 0) and waits for it to listen; server.jsonl records.
    void StartServer(const std::vector<std::string>& extra = {}, int atPort = 0)
    {
        const auto listening = [&] { return Record(ServerRecord(), [](auto& o) { return IsEvent(o, "listen"); }); };
        const size_t before = listening().size();
        server = Start(serverSide, {"/usr/bin/python3", ZPSIM, "server", "-server", "TEST", "-netport",
                                    std::to_string(atPort), "--bind", host, "--no-console", "--record", ServerRecord()},
                       extra, "server.out");
        ASSERT_TRUE(WaitFor([&] { return listening().size() > before; }, std::chrono::seconds(10))) << Read("server.out");
        port = listening().back()["port"].toInt();
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

    // Runs bots on the players' side, side by side, to their ends; bots.jsonl records.
    void RunBots(const std::vector<std::vector<std::string>>& bots)
    {
        std::vector<std::unique_ptr<ChildProcess>> running;
        for (const auto& args : bots)
            running.push_back(Start(playerSide, {"/usr/bin/python3", ZPSIM, "bot", "--host", host, "--port", std::to_string(port),
                                                 "--record", dir.File("bots.jsonl")}, args, "bots.out"));
        for (auto& b : running)
            EXPECT_TRUE(b->Wait(std::chrono::seconds(60)) && ExitedWith(b->ExitStatus(), 0)) << Read("bots.out");
    }

    std::string ServerRecord() const { return dir.File("server.jsonl"); }
    std::string Read(const std::string& name) const { return dir.Read(name); }
    // The monitor's output as lines.
    std::vector<std::string> Output() const { return Lines(Read("monitor.out")); }

    const std::vector<std::string> serverSide, playerSide;
    const std::string host;
    TempFolder dir;
    int port = 0;
    std::unique_ptr<ChildProcess> server, monitor;

private:
    std::unique_ptr<ChildProcess> Start(std::vector<std::string> argv, const std::vector<std::string>& command,
                                        const std::vector<std::string>& extra, const char* output)
    {
        argv.insert(argv.end(), command.begin(), command.end());
        argv.insert(argv.end(), extra.begin(), extra.end());
        return std::make_unique<ChildProcess>(argv, dir.File(output));
    }
};
