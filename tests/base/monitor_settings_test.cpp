// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace {

// And in one replacement of the file, not one per key.
TEST(MonitorSettings, NewFileGetsDefaultsInSaveOrder)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    int synced = 0;
    store.SetSync([&](const std::string&) { return ++synced > 0; });
    MonitorSettings s;
    LoadSettings(store, s);
    SaveSettings(store, s);
    EXPECT_EQ(synced, 2);  // the new file and its folder
    EXPECT_EQ(ReadText(store.Path()),
              "[ProgramData]\nFolderPath=/opt/zephrine\nExeType=1\nHandleName=USERNAME\nPort=7915\nSchedule=\n"
              "ResetSchedule=\nRebootAtInterval=0\nResetAtInterval=0\nRebootIntervalSec=36000\n"
              "ResetIntervalSec=36000\nEndurance=0\nIntercept=0\nAirsupport=0\nEnduranceInterval=300\n"
              "InterceptInterval=300\nAirsupportInterval=300\nInterfaceNumber=0\nCloseErrorDialog=1\nStartUp=0\n"
              "ResolveName=1\nChatLog=0\nChecksum=1\nCheatCheck=1\nCheckRunning=0\nMinimizeZP=0\n"
              "PackFile=Packlist.txt\n");
}

TEST(MonitorSettings, EveryMemberGoesToItsKeyAndBack)
{
    using M = MonitorSettings;
    const std::pair<std::atomic<int32_t> M::*, const char*> words[] = {
        {&M::exeType, "ExeType"}, {&M::closeErrorDialog, "CloseErrorDialog"}, {&M::interfaceNumber, "InterfaceNumber"},
        {&M::minimizeZP, "MinimizeZP"}, {&M::rebootAtInterval, "RebootAtInterval"},
        {&M::resetAtInterval, "ResetAtInterval"}, {&M::intercept, "Intercept"}, {&M::endurance, "Endurance"},
        {&M::airsupport, "Airsupport"}, {&M::checkRunning, "CheckRunning"}, {&M::rebootIntervalSec, "RebootIntervalSec"},
        {&M::resetIntervalSec, "ResetIntervalSec"}, {&M::interceptInterval, "InterceptInterval"},
        {&M::enduranceInterval, "EnduranceInterval"}, {&M::airsupportInterval, "AirsupportInterval"},
        {&M::startUp, "StartUp"}, {&M::resolveName, "ResolveName"}, {&M::chatLog, "ChatLog"},
        {&M::checksum, "Checksum"}, {&M::cheatCheck, "CheatCheck"},
    };
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    MonitorSettings s;
    for (size_t i = 0; i < std::size(words); ++i)
        s.*words[i].first = 100 + static_cast<int32_t>(i); // distinct, so a swapped key shows
    s.folderPath = "/games/zp";
    s.handleName = "host";
    s.packFile = "packs.txt";
    s.port = 65535;
    ParseTimeList("3:05|21:30|", s.schedule);
    ParseTimeList("0:00|", s.resetSchedule);
    SaveSettings(store, s);

    MonitorSettings back;
    LoadSettings(store, back);
    for (size_t i = 0; i < std::size(words); ++i) {
        SCOPED_TRACE(words[i].second);
        EXPECT_EQ(store.GetInt(kProgramDataSection, words[i].second, -1), 100 + static_cast<int32_t>(i));
        EXPECT_EQ((back.*words[i].first).load(), 100 + static_cast<int32_t>(i));
    }
    EXPECT_EQ(store.GetString(kProgramDataSection, "HandleName", ""), "host");
    EXPECT_EQ(back.folderPath + "," + back.handleName + "," + back.packFile, "/games/zp,host,packs.txt");
    EXPECT_EQ(back.port.load(), 65535);
    EXPECT_EQ(FormatTimeList(back.schedule), "3:05|21:30|");
    EXPECT_EQ(FormatTimeList(back.resetSchedule), "0:00|");
}

TEST(MonitorSettings, ReadsHandEditedFile)
{
    TempFolder dir;
    WriteText(dir.File("Zpmoni.ini"), "[programdata]\r\nfolderpath=\r\nPORT=70000\r\nSchedule=|\r\n"
                                      "ResetSchedule=7:90|25:00|6|x|\r\nExeType=\r\n");
    ProfileStore store(dir.File("Zpmoni.ini"));
    MonitorSettings s;
    s.folderPath = "stale";
    ParseTimeList("1:00|", s.schedule);
    LoadSettings(store, s);
    EXPECT_EQ(s.folderPath, "");
    EXPECT_EQ(s.port.load(), 4464);
    EXPECT_EQ(s.schedule.count.load(), 0);
    EXPECT_EQ(FormatTimeList(s.resetSchedule), "8:30|1:00|6:00|");
    EXPECT_EQ(s.exeType.load(), 1);
    EXPECT_EQ(s.packFile, "Packlist.txt");
}

} // namespace
