// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

using namespace zpmoni;

// Defaults for a missing file; then each key of a hand-edited file (other letter cases, CR LF, a
// port beyond 16 bits, an empty text, time lists) to its member and back: distinct values show a
// swap. Both saves in the save order, each in one replacement of the file.
TEST(MonitorSettings, LoadAndSave)
{
    TempFolder dir;
    ProfileStore store(dir.File("Zpmoni.ini"));
    int synced = 0;
    store.SetSync([&](const std::string&) { return ++synced > 0; });
    MonitorSettings s;
    LoadSettings(store, s);
    SaveSettings(store, s);
    EXPECT_EQ(synced, 2);  // the new file and its folder
    EXPECT_EQ(dir.Read("Zpmoni.ini"),
              "[ProgramData]\nFolderPath=/opt/zephrine\nExeType=1\nHandleName=USERNAME\nPort=7915\nSchedule=\n"
              "ResetSchedule=\nRebootAtInterval=0\nResetAtInterval=0\nRebootIntervalSec=36000\nResetIntervalSec=36000\n"
              "Endurance=0\nIntercept=0\nAirsupport=0\nEnduranceInterval=300\nInterceptInterval=300\n"
              "AirsupportInterval=300\nInterfaceNumber=0\nCloseErrorDialog=1\nStartUp=0\nResolveName=1\nChatLog=0\n"
              "Checksum=1\nCheatCheck=1\nCheckRunning=0\nMinimizeZP=0\nPackFile=Packlist.txt\n");

    dir.Write("Zpmoni.ini",
        "[programdata]\r\nfolderpath=\r\nPORT=70000\r\nExeType=2\r\nHandleName=host\r\nSchedule=7:90|25:00|6|x|\r\n"
        "ResetSchedule=|\r\nRebootAtInterval=3\r\nResetAtInterval=4\r\nEndurance=5\r\nIntercept=6\r\nAirsupport=7\r\n"
        "RebootIntervalSec=8\r\nResetIntervalSec=9\r\nEnduranceInterval=10\r\nInterceptInterval=11\r\n"
        "AirsupportInterval=12\r\nInterfaceNumber=13\r\nCloseErrorDialog=14\r\nStartUp=15\r\nResolveName=16\r\n"
        "ChatLog=17\r\nChecksum=18\r\nCheatCheck=19\r\nCheckRunning=20\r\nMinimizeZP=21\r\nPackFile=packs.txt\r\n");
    ParseTimeList("1:00|", s.resetSchedule);  // replaced, not added to
    LoadSettings(store, s);
    store.SetPath(dir.File("Saved.ini"));
    SaveSettings(store, s);
    EXPECT_EQ(synced, 4);
    EXPECT_EQ(dir.Read("Saved.ini"),
              "[ProgramData]\nFolderPath=\nExeType=2\nHandleName=host\nPort=4464\nSchedule=8:30|1:00|6:00|\n"
              "ResetSchedule=\nRebootAtInterval=3\nResetAtInterval=4\nRebootIntervalSec=8\nResetIntervalSec=9\n"
              "Endurance=5\nIntercept=6\nAirsupport=7\nEnduranceInterval=10\nInterceptInterval=11\n"
              "AirsupportInterval=12\nInterfaceNumber=13\nCloseErrorDialog=14\nStartUp=15\nResolveName=16\nChatLog=17\n"
              "Checksum=18\nCheatCheck=19\nCheckRunning=20\nMinimizeZP=21\nPackFile=packs.txt\n");
}

// ListLine as written in the file, and the row count the event list then keeps.
TEST(MonitorSettings, ListLineHeldToItsRange)
{
    TempFolder dir;
    for (auto [text, rows] : {std::pair{"", 200}, {"ListLine=10001", 10000}, {"ListLine=-5", 0}, {"ListLine=10000", 10000}}) {
        dir.Write("Zpmoni.ini", std::string("[ProgramData]\n") + text + "\n");
        EXPECT_EQ(LoadListLine(ProfileStore(dir.File("Zpmoni.ini"))), rows) << text;
    }
}
