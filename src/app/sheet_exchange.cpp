// SPDX-License-Identifier: MIT
#include "app/sheet_exchange.h"

#include "client/g_limiter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace zpmoni {

namespace {

constexpr int kSecondsPerMinute = 60;

// The schedule page's five actions in its order, for a const or a mutable settings object.
template <typename Settings>
auto Flags(Settings& s)
{
    return std::array{&s.rebootAtInterval, &s.resetAtInterval, &s.endurance, &s.intercept, &s.airsupport};
}

template <typename Settings>
auto Periods(Settings& s)
{
    return std::array{&s.rebootIntervalSec, &s.resetIntervalSec, &s.enduranceInterval,
            &s.interceptInterval, &s.airsupportInterval};
}

}  // namespace

std::string TimeListLines(const TimeOfDayList& list)
{
    std::string text;
    const int32_t n = std::clamp(list.count.load(), int32_t{0}, int32_t{TimeOfDayList::kCapacity});
    for (int32_t i = 0; i < n; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%d:%02d\n", list.entries[i].hour.load(),
                      list.entries[i].minute.load());
        text += line;
    }
    return text;
}

void ParseTimeListLines(std::string_view lines, TimeOfDayList& list)
{
    list.count.store(0);
    if (lines.empty())
        return;
    std::string text;
    text.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n')
            continue;  // the LF that follows stands for the pair
        text.push_back(lines[i] == '\n' ? '|' : lines[i]);
    }
    ParseTimeList(text, list);
}

int32_t CloseIntervalMs(double seconds)
{
    // A period typed as decimal text, 1.005 say, is a hair below its value in binary; that hair
    // must not cost a millisecond, or every confirmation would shorten the period by one.
    const double ms = seconds * 1000.0;
    const double whole = std::trunc(ms + std::fabs(ms) * 1e-12);
    if (!(whole >= 1.0))
        return 1;
    return whole >= double{std::numeric_limits<int32_t>::max()} ? std::numeric_limits<int32_t>::max()
                                                                 : static_cast<int32_t>(whole);
}

SheetValues SheetValuesFrom(const MonitorSettings& s, const EventLogFlags& flags,
                            int32_t closeIntervalMs, const DenyList& denyList,
                            const GlimitValues& glimit)
{
    SheetValues v;
    ServerStartValues& b = v.bootconf;
    b.folderPath = s.folderPath;
    b.handleName = s.handleName;
    b.port = s.port.load();
    b.interfaceNumber = s.interfaceNumber;
    b.closeErrorDialog = s.closeErrorDialog;
    b.exeType = s.exeType;
    b.startUp = s.startUp;
    b.resolveName = s.resolveName;
    b.chatLog = s.chatLog;
    b.checksum = s.checksum;
    b.cheatCheck = s.cheatCheck;
    b.checkRunning = s.checkRunning;
    b.minimizeZP = s.minimizeZP;
    b.displayLogin = flags.displayLogin;
    b.displayJoin = flags.displayJoin;
    b.createLogfile = flags.createLogfile;
    b.closeSeconds = closeIntervalMs * 0.001;

    const auto enabled = Flags(s);
    const auto periods = Periods(s);
    for (int i = 0; i < ScheduleValues::kActions; ++i) {
        v.schedule.enabled[i] = enabled[i]->load();
        v.schedule.minutes[i] = periods[i]->load() / kSecondsPerMinute;
    }
    v.schedule.restartTimes = TimeListLines(s.schedule);
    v.schedule.reviveTimes = TimeListLines(s.resetSchedule);

    v.packFile = s.packFile;
    v.denyList = denyList;
    v.glimit = glimit;
    return v;
}

void ApplySheet(const SheetValues& v, SheetTarget& t)
{
    MonitorSettings& s = t.Settings();
    const ServerStartValues& b = v.bootconf;
    s.folderPath = b.folderPath;
    s.handleName = b.handleName;
    s.port = static_cast<uint16_t>(b.port);
    s.closeErrorDialog = b.closeErrorDialog;
    s.exeType = b.exeType;
    s.startUp = b.startUp;
    s.resolveName = b.resolveName;
    s.chatLog = b.chatLog;
    s.checksum = b.checksum;
    s.cheatCheck = b.cheatCheck;
    s.checkRunning = b.checkRunning;
    s.minimizeZP = b.minimizeZP;
    const int32_t closeInterval = CloseIntervalMs(b.closeSeconds);
    t.SetWindowValues({b.displayLogin, b.displayJoin, b.createLogfile}, closeInterval);

    const auto enabled = Flags(s);
    const auto periods = Periods(s);
    for (int i = 0; i < ScheduleValues::kActions; ++i) {
        enabled[i]->store(v.schedule.enabled[i]);
        // The page allows at most what still fits in seconds.
        periods[i]->store(static_cast<int32_t>(
            std::clamp<int64_t>(int64_t{v.schedule.minutes[i]} * kSecondsPerMinute,
                                std::numeric_limits<int32_t>::min(),
                                std::numeric_limits<int32_t>::max())));
    }
    // Both counts go to 0 before either list is refilled, so the schedule thread never pairs an
    // old count with new entries.
    s.schedule.count.store(0);
    s.resetSchedule.count.store(0);
    ParseTimeListLines(v.schedule.restartTimes, s.schedule);
    ParseTimeListLines(v.schedule.reviveTimes, s.resetSchedule);

    s.packFile = v.packFile;
    t.LoadPackIndex();

    // The rules leave the interface they were put on before the number changes.
    t.StopCapture();
    t.RemoveIpFilters();
    s.interfaceNumber = b.interfaceNumber;
    t.ReplaceDenyList(v.denyList);
    t.StartCapture();
    t.InstallIpFilters();
    t.WriteDenyFile();
    t.SaveSettings();

    GlimitValues g = v.glimit;
    g.negative = GLimiter::NormaliseNegative(g.negative);
    g.positive = GLimiter::NormalisePositive(g.positive);
    t.ApplyGlimit(g, s.chatLog != 0);

    t.ResolveNames(s.resolveName != 0);
    if (t.ServerRunning() && s.closeErrorDialog != 0)
        t.SetErrorDialogTimer(closeInterval);
    t.Reconnect(g.enable != 0, s.port);
}

}  // namespace zpmoni
