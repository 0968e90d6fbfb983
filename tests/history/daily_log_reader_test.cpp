// SPDX-License-Identifier: MIT
#include "history/daily_log_reader.h"

#include "capture/event_log.h"
#include "platform/directory_listing.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace zpmoni;

namespace {

// 2026-12-06 00:00:00 at UTC+9; a quarter past, the zone moves to UTC+10 (a summer-time step).
constexpr int64_t kMidnight = 1796482800;
std::tm Zone(int64_t t) { return UtcTime(t + (t < kMidnight + 450 ? 9 : 10) * 3600); }

SessionRecord Session(const char* address, std::string user, int64_t on, int64_t off,
                      std::vector<FlownAircraft> flown = {})
{
    return {*Ipv4Address::Parse(address), 0, std::move(user), kMidnight + on, off ? kMidnight + off : 0,
            std::move(flown)};
}

// Logs written by the monitor's own writers, then lines of older monitors and damaged ones.
TEST(DailyLogReaderTest, SessionsOfTheMonitorsOwnLogsAndBadLinesCounted)
{
    struct Step {
        int64_t at;
        std::string_view word, address = "", user = "", aircraft = "", pack = "";
    };
    const std::string sjis = "\x83\x5c\x83\x93", control = "ct\x01l";
    const Step steps[] = {
        {-600, "LOGIN", "198.51.100.2", "Falcon7"}, {-300, "JOIN", "198.51.100.2", "Falcon7", "F-15C", "Jets"},
        {-200, "LOGIN", "198.51.100.2", sjis},      {-100, "LOGIN", "198.51.100.3", control},
        {60, "JOIN", "198.51.100.2", "Falcon7", "A6M2"}, {120, "LOGOUT", "198.51.100.2", "Falcon7"},
        {180, "LOGOUT", "198.51.100.3", control},   {240, "LOGIN", "198.51.100.3", control},
        {300, "LOGIN", "198.51.100.3", control},    {350, "Terminate server"},
        {360, "LOGOUT", "198.51.100.3", control},   {400, "Start server"},
        {500, "LOGIN", "198.51.100.4", "Open"},     {520, "LOGOUT", "198.51.100.9", "ghost"}};
    TempFolder dir;
    std::filesystem::create_directory(dir.path / "Log");
    ManualClock clock;
    clock.zone = Zone;
    {
        DailyLog daily(dir.path.string(), clock);
        EventLog events(daily, clock);
        for (const Step& s : steps) {
            clock.seconds = kMidnight + s.at;
            PlayerRecord r;
            r.addressText = s.address, r.userName = s.user, r.aircraftName = s.aircraft, r.packName = s.pack;
            r.startPosition = "Runway";
            if (s.word == "LOGIN")
                events.LogonEntry(clock.seconds, r);
            else if (s.word == "LOGOUT")
                events.LogoffEntry(clock.seconds, r);
            else if (s.word == "JOIN")
                events.JoinEntry(clock.seconds, r);
            else
                daily.WriteLine(s.word);
        }
    }
    std::ofstream(dir.File("Log/zplog20261206.txt"), std::ios::app)
        << "01:10:00\t198.51.100.8\tOld\tLOGIN\r\n01:20:00\t198.51.100.8\tOld\tLOGOUT\r\n"  // read
        << "garbage\n01:30:00\t198.51.100.8\tOld\tLOGGED\n25:00:00\t198.51.100.8\tOld\tLOGIN\n"
        << "01:30:00\t198.51.100.300\tOld\tLOGIN\n01:30:00\t198.51.100.8\tOld\tJOIN\tx\tA\tB\tC\n"
        << "01:30:00\t198.51.100.8\tOld\tJOIN\t1\tA\tB\n" << std::string(3000, 'a') << "\n\n"
        << "01:40:00\t198.51.100.8\tOld\tLOG";  // 9 unreadable, the last cut short
    // Not daily logs: never read.
    dir.Write("Log/chat20261206.txt", "01:00:00\t198.51.100.7\tx\tLOGIN\n");
    dir.Write("Log/zplog2026120.txt", "01:00:00\t198.51.100.7\tx\tLOGIN\n");

    Result<Backfill> read = ReadDailyLogFolder(dir.File("Log"), SystemDirectoryListing(), Zone);
    ASSERT_TRUE(read) << read.error();
    const std::vector<SessionRecord> expected = {
        Session("198.51.100.2", "Falcon7", -600, 120, {{"F-15C", "Jets"}, {"A6M2", ""}}),
        Session("198.51.100.2", sjis, -200, 350), Session("198.51.100.3", control, -100, 180),
        Session("198.51.100.3", control, 240, 300), Session("198.51.100.3", control, 300, 360),
        Session("198.51.100.4", "Open", 500, 0), Session("198.51.100.8", "Old", 600, 1200)};
    EXPECT_EQ(read->sessions, expected);
    const BackfillCounts counts{
        .files = 2, .lines = 25, .sessions = 7, .unreadable = 9, .unmatched = 1, .problems = {}};
    EXPECT_EQ(read->counts, counts);
}

// Only the monitor's daily-log names, with a real date.
TEST(DailyLogReaderTest, DailyLogNames)
{
    for (auto [name, date] : {std::pair{"zplog20261205.txt", 20261205}, {"ZPLOG20261205.TXT", 20261205},
                              {"zplog20261305.txt", 0}, {"zplog2026120x.txt", 0}, {"chat20261205.txt", 0},
                              {"action20261205.txt", 0}, {"zplog20261205.txt~", 0}})
        EXPECT_EQ(DailyLogDate(name), date) << name;
}

}  // namespace
