// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace zpmoni;

namespace {

using S = MonitorSettings;

// A hand-edited value for a key of each type (blanks, junk, values beyond the sheet's limits),
// and how it reads back as the file would hold it; `i` keeps each key's value its own.
std::pair<std::string, std::string> Sample(const SettingKey& k, int i)
{
    const std::string n = std::to_string(100 + i);
    if (std::holds_alternative<uint16_t S::*>(k.member))
        return {" " + std::to_string(65636 + i), n};  // only the low 16 bits stay
    if (IsNumber(k))
        return {"-" + n + "abc", "-" + n};
    if (std::holds_alternative<TimeList S::*>(k.member))
        return {"7:90|" + std::to_string(i) + ":5|6|x|", "8:30|" + std::to_string(i % 24) + ":05|6:00|"};
    if (std::holds_alternative<RestartWarnings S::*>(k.member))
        return {"15, x,0," + n + ",2000", "15," + n};
    return {" text " + n + " ", "text " + n};
}

// A new file gets every saved key with its default, in the table's order, in one replacement.
// Then every key of the table: an empty value; a hand-edited one (other letter cases, CR LF, the
// same key in another section) read into its member alone; saved in place with every other line
// kept byte for byte (a read only key not at all); and read back to the same settings.
TEST(MonitorSettings, EveryKeyLoadsSavesAndRoundTrips)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    int synced = 0;
    store.SetSync([&](const std::string&) { return ++synced > 0; });
    SaveSettings(store, MonitorSettings());
    EXPECT_EQ(synced, 2);  // the new file and its folder
    EXPECT_EQ(dir.Read("Zpmoni.ini"),
              "[ProgramData]\nFolderPath=/opt/zephrine\nExeType=1\nHandleName=USERNAME\nPort=7915\nSchedule=\n"
              "ResetSchedule=\nRebootAtInterval=0\nResetAtInterval=0\nRebootIntervalSec=36000\nResetIntervalSec=36000\n"
              "Endurance=0\nIntercept=0\nAirsupport=0\nEnduranceInterval=300\nInterceptInterval=300\n"
              "AirsupportInterval=300\nInterfaceNumber=0\nCloseErrorDialog=1\nStartUp=0\nResolveName=1\nChatLog=0\n"
              "Checksum=1\nCheatCheck=1\nCheckRunning=0\nMinimizeZP=0\nPackFile=Packlist.txt\n");
    EXPECT_EQ(MonitorSettings().restartWarnings, (RestartWarnings{10, 5, 1}));
    // The window's and the event list's keys, each group in the order it has always been written.
    TempFolder other;
    ProfileStore groups(other.File("Zpmoni.ini"));
    SaveSettings(groups, MonitorSettings(), SavedBy::Window);
    SaveSettings(groups, MonitorSettings(), SavedBy::EventList);
    EXPECT_EQ(other.Read("Zpmoni.ini"),
              "[ZpmoniDlg]\nCloseInterval=800\nWindowTextInterval=1000\nCheckRunningInterval=3000\nGlimit=0\n"
              "HangSeconds=120\n[ProgramData]\nDisplayLogin=1\nDisplayJoin=1\nCreateLogfile=1\nListLine=200\n");
    auto upper = [](std::string s) { return std::ranges::transform(s, s.begin(), ::toupper), s; };
    int i = 0;
    for (const SettingKey& k : SettingKeys()) {
        SCOPED_TRACE(k.key);
        const auto [written, read] = Sample(k, i++);
        const std::string head = "; note\r\n[" + upper(std::string(k.section)) + "]\r\n" + upper(std::string(k.key));
        const std::string other = "[Other]\r\n" + std::string(k.key) + "=1\r\n";
        MonitorSettings s, expected, again;
        dir.Write("Zpmoni.ini", head + "=\r\n" + other);
        LoadSettings(store, s);
        EXPECT_EQ(SettingText(s, k), IsNumber(k) ? std::to_string(k.number) : "");

        dir.Write("Zpmoni.ini", head + "=" + written + "\r\n" + other);
        LoadSettings(store, s);
        EXPECT_EQ(SettingText(s, k), read);
        IsNumber(k) ? SetSettingNumber(expected, k, std::stoll(read)) : SetSettingText(expected, k, read);
        EXPECT_EQ(s, expected);  // no other member moved

        // A read only key sees the sheet's save pass over it.
        const bool writes = k.saved != SavedBy::Nobody;
        SaveSettings(store, s, writes ? k.saved : SavedBy::Sheet);
        const std::string saved = dir.Read("Zpmoni.ini");
        EXPECT_TRUE(saved.starts_with(writes ? "; note\r\n" : head + "=" + written + "\r\n")) << saved;
        EXPECT_EQ(saved.find("\r\n" + std::string(k.key) + "=" + read + "\r\n") != std::string::npos, writes);
        EXPECT_NE(saved.find(other), std::string::npos);
        LoadSettings(store, again);
        EXPECT_EQ(again, s);
    }
    // ListLine as written in the file, and the row count the event list then keeps.
    for (auto [text, rows] : {std::pair{"", 200}, {"ListLine=10001", 10000}, {"ListLine=-5", 0}, {"ListLine=10000", 10000}}) {
        dir.Write("Zpmoni.ini", std::string("[ProgramData]\n") + text + "\n");
        MonitorSettings s;
        LoadSettings(ProfileStore(dir.File("Zpmoni.ini")), s);
        EXPECT_EQ(HeldListLine(s), rows) << text;
    }
}

// Time lists as the file holds them: text, count, formatted.
TEST(MonitorSettings, TimeListsParseAndFormat)
{
    std::string thirty;
    for (size_t i = 0; i < 30; ++i)
        thirty += i < kTimeListCapacity ? "1:00|" : "2:00|";
    const std::tuple<std::string, size_t, std::string> cases[] = {
        {"", 0, ""}, {"|", 0, ""}, {"7:90|25:00|6|x|", 3, "8:30|1:00|6:00|"}, {"3:5", 1, "3:05|"},
        // The colon must follow the hour directly; blanks before numbers are skipped.
        {"4 :7| 4: 7|5:x|x:5|||12:00", 4, "4:00|4:07|5:00|12:00|"},
        // Truncating division and remainder; a huge hour saturates at 2147483647, then wraps.
        {"23:120|-1:-70|99999999999:0|", 3, "1:00|-2:-10|7:00|"},
        {thirty, kTimeListCapacity, thirty.substr(0, 5 * kTimeListCapacity)},  // the first 24
    };
    for (const auto& [text, count, formatted] : cases) {
        TimeList list;
        ParseTimeList("9:09|8:08|", list);
        ParseTimeList(text, list);
        EXPECT_EQ(list.size(), count) << text;
        EXPECT_EQ(FormatTimeList(list), formatted) << text;
    }
}

}  // namespace
