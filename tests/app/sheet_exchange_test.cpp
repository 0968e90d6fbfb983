// SPDX-License-Identifier: MIT
#include "app/sheet_exchange.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zpmoni;

namespace {

// Records every step with what the program holds at that moment.
struct FakeTarget final : SheetTarget {
    MonitorSettings s;
    bool running = false;
    std::vector<std::string> steps;
    void Log(const char* step, const auto&... v)
    {
        std::ostringstream out;
        steps.push_back((((out << step) << ... << (out << ' ', v)), out.str()));
    }

    MonitorSettings& Settings() override { return s; }
    void SetWindowValues(const EventLogFlags& f, int32_t ms) override
    {
        Log("window", f.displayLogin, f.displayJoin, f.createLogfile, ms);
    }
    void LoadPackIndex() override { Log("packs", s.packFile); }
    void StopCapture() override { Log("stop"); }
    void ReplaceDenyList(const DenyList& l) override { Log("deny", l.size()); }
    void StartCapture() override { Log("start if", s.interfaceNumber, s.port); }
    void InstallIpFilters() override { Log("install if", s.interfaceNumber); }
    void WriteDenyFile() override { Log("ipfilter.txt"); }
    void SaveSettings() override { Log("ini", FormatTimeList(s.schedule), s.rebootIntervalSec); }
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
    // The restart times as edited; the limits as entered on the G limiter page; the steps after the
    // settings file's.
    struct Case { const char* times; bool serverRunning; int32_t resolveAndChatLog, enable;
                  double negative, positive; std::vector<std::string> tail; };
    const Case cases[] = {
        {"7:05|", false, 1, 1, -2, 5, {"glimit 1 -3 7 40 1 77", "resolve 1", "reconnect 1 7000"}},
        {"", true, 0, 0, 0, 9, {"glimit 0 0 9 40 0 77", "resolve 0", "timer 570", "reconnect 0 7000"}},
    };
    for (const Case& c : cases) {
        FakeTarget t;
        t.running = c.serverRunning;
        t.s.interfaceNumber = 1;
        ParseTimeList("3:05|21:30|", t.s.schedule);
        SheetValues v = SheetValuesFrom(t.s, {1, 0, 1}, 570, {}, {c.enable, c.negative, c.positive, 40, 77});
        EXPECT_EQ(v.schedule, t.s);
        // Each page's copy counts for the keys of its page only.
        ParseTimeList(c.times, v.schedule.schedule);
        v.schedule.rebootIntervalSec = 60, v.schedule.port = v.bootconf.settings.rebootIntervalSec = 5;
        v.bootconf.settings.interfaceNumber = 2, v.bootconf.settings.port = 7000;
        v.bootconf.settings.resolveName = v.bootconf.settings.chatLog = c.resolveAndChatLog;
        v.packFile = "p.txt";
        v.denyList = {{"10.0.0.1", "255.255.255.255", ""}};
        ApplySheet(v, t);
        // 570 ms are shown as 0.57 s and come back whole.
        std::vector<std::string> expected = {"window 1 0 1 570", "packs p.txt", "stop", "deny 1",
                                             "start if 2 7000", "install if 2", "ipfilter.txt",
                                             "ini " + std::string(c.times) + " 60"};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(t.steps, expected);
    }
}

TEST(SheetExchangeTest, CloseSecondsAsTypedComeBackInWholeMilliseconds)
{
    for (auto [s, ms] : std::vector<std::pair<double, int32_t>>{
             {0.0005, 1}, {0.001, 1}, {1.005, 1005}, {0.8, 800}, {2e6, 2000000000}})
        EXPECT_EQ(CloseIntervalMs(s), ms) << s;
}

}  // namespace
