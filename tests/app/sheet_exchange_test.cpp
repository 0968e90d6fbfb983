// SPDX-License-Identifier: MIT
#include "app/sheet_exchange.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Records every step with what the program holds at that moment.
struct FakeTarget final : SheetTarget {
    MonitorSettings s;
    bool running = false;
    std::vector<std::string> steps;
    template <typename... T>
    void Log(const char* step, const T&... v)
    {
        std::ostringstream out;
        ((out << step) << ... << (out << ' ', v));
        steps.push_back(out.str());
    }

    MonitorSettings& Settings() override { return s; }
    void SetEventLogFlags(const EventLogFlags& f) override
    {
        Log("flags", f.displayLogin, f.displayJoin, f.createLogfile);
    }
    void SetCloseInterval(int32_t ms) override { Log("close", ms); }
    void LoadPackIndex() override { Log("packs", s.packFile); }
    void StopCapture() override { steps.push_back("stop"); }
    void RemoveIpFilters() override { Log("remove if", s.interfaceNumber); }
    void ReplaceDenyList(const DenyList& l) override { Log("deny", l.size()); }
    void StartCapture() override { Log("start if", s.interfaceNumber, s.port); }
    void InstallIpFilters() override { Log("install if", s.interfaceNumber); }
    void WriteDenyFile() override { steps.push_back("ipfilter.txt"); }
    void SaveSettings() override { Log("ini", FormatTimeList(s.schedule)); }
    void ApplyGlimit(const GlimitValues& g, bool on) override
    {
        Log("glimit", g.enable, g.negative, g.positive, g.interval, on, g.version);
    }
    void ResolveNames(bool on) override { Log("resolve", on); }
    bool ServerRunning() override { return running; }
    void SetErrorDialogTimer(int32_t ms) override { Log("timer", ms); }
    void Reconnect(bool logOn, uint16_t port) override { Log("reconnect", logOn, port); }
};

TEST(SheetExchangeTest, ConfirmedSheetRunsEveryStepInOrder)
{
    struct Case {
        bool serverRunning;
        int32_t resolveName, chatLog, enable;
        double negative, positive;  // as entered on the G limiter page
        std::vector<std::string> tail;  // the steps after the settings file's
    };
    const Case cases[] = {
        {false, 1, 1, 1, -2, 5, {"glimit 1 -3 7 40 1 77", "resolve 1", "reconnect 1 7000"}},
        {true, 0, 0, 0, 0, 9, {"glimit 0 0 9 40 0 77", "resolve 0", "timer 250", "reconnect 0 7000"}},
    };
    for (const Case& c : cases) {
        FakeTarget t;
        t.running = c.serverRunning;
        t.s.interfaceNumber = 1;
        ParseTimeList("3:05|", t.s.schedule);
        SheetValues v = SheetValuesFrom(t.s, {1, 0, 1}, 250, {}, {c.enable, c.negative, c.positive, 40, 77});
        v.bootconf.interfaceNumber = 2;
        v.bootconf.port = 7000 + 65536;
        v.bootconf.resolveName = c.resolveName;
        v.bootconf.chatLog = c.chatLog;
        v.packFile = "p.txt";
        v.denyList = {{"10.0.0.1", "255.255.255.255", ""}};
        ApplySheet(v, t);
        std::vector<std::string> expected = {"flags 1 0 1", "close 250", "packs p.txt", "stop", "remove if 1",
                                             "deny 1", "start if 2 7000", "install if 2", "ipfilter.txt", "ini 3:05|"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(t.steps, expected);
    }
}

TEST(SheetExchangeTest, ValuesGoThroughThePagesUnitsAndComeBack)
{
    struct Case {
        int32_t closeMs;         // in force
        double typedSeconds;     // on the page; 0 leaves what the page was given
        int32_t expectedMs, rebootSec, expectedRebootSec;
        const char* schedule;    // in force
        const char* typedLines;  // on the page; nullptr leaves what the page was given
        const char* expectedSchedule;
    };
    const Case cases[] = {
        {800, 0, 800, 90, 60, "3:05|21:30|", nullptr, "3:05|21:30|"},
        {570, 0, 570, 36000, 36000, "", nullptr, ""},
        {800, 0.001, 1, 300, 300, "", "7:90", "8:30|"},
        {800, 0.0005, 1, 300, 300, "1:00|", "7:5\r\n25:70\r\n8\r\n", "7:05|2:10|8:00|"},
        {800, 0.8, 800, 300, 300, "1:00|", "", ""},
    };
    for (const Case& c : cases) {
        FakeTarget t;
        t.s.rebootIntervalSec = c.rebootSec;
        ParseTimeList(c.schedule, t.s.schedule);
        SheetValues v = SheetValuesFrom(t.s, {}, c.closeMs, {}, {});
        if (c.typedSeconds != 0)
            v.bootconf.closeSeconds = c.typedSeconds;
        if (c.typedLines)
            v.schedule.restartTimes = c.typedLines;
        ApplySheet(v, t);
        EXPECT_EQ(t.steps[1], "close " + std::to_string(c.expectedMs)) << c.closeMs;
        EXPECT_EQ(t.s.rebootIntervalSec, c.expectedRebootSec);
        EXPECT_EQ(FormatTimeList(t.s.schedule), c.expectedSchedule);
    }
}

}  // namespace
