// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/profile_store.h"
#include "base/time_list.h"

// Section of the file that holds the monitor's own settings.
inline constexpr std::string_view kProgramDataSection = "ProgramData";
// The server's TCP port when nothing else is configured.
inline constexpr uint16_t kDefaultPort = 7915;
// Where the simulator is installed when nothing else is configured.
inline constexpr std::string_view kDefaultFolderPath = "/opt/zephrine";

// The settings the application object loads at start-up. The words are atomic because the
// schedule thread reads them while the settings sheet may change them on the main thread; the
// texts are used on the main thread only.
struct MonitorSettings {
    std::string folderPath{kDefaultFolderPath};
    std::string handleName{"USERNAME"};
    std::atomic<int32_t> exeType{1};          // 0 OpenGL, 1 Non-OpenGL, 2 DirectX, 3 Console
    std::atomic<int32_t> closeErrorDialog{1};
    std::atomic<uint16_t> port{kDefaultPort};
    std::atomic<int32_t> interfaceNumber{0};
    std::atomic<int32_t> minimizeZP{0};
    std::atomic<int32_t> rebootAtInterval{0};
    std::atomic<int32_t> resetAtInterval{0};
    std::atomic<int32_t> intercept{0};
    std::atomic<int32_t> endurance{0};
    std::atomic<int32_t> airsupport{0};
    std::atomic<int32_t> checkRunning{0};
    std::atomic<int32_t> rebootIntervalSec{36000};
    std::atomic<int32_t> resetIntervalSec{36000};
    std::atomic<int32_t> interceptInterval{300};
    std::atomic<int32_t> enduranceInterval{300};
    std::atomic<int32_t> airsupportInterval{300};
    TimeOfDayList schedule;
    TimeOfDayList resetSchedule;
    std::atomic<int32_t> startUp{0};
    std::atomic<int32_t> resolveName{1};
    std::atomic<int32_t> chatLog{0};
    std::atomic<int32_t> checksum{1};
    std::atomic<int32_t> cheatCheck{1};
    std::string packFile{"Packlist.txt"};
    // The user a root monitor starts the server as (key ServerUser of the main window's
    // section): empty refuses the start, "root" keeps root. Read only; the operator writes it.
    std::string serverUser;
};

// Section of the main window's own values, which also holds ServerUser.
inline constexpr std::string_view kMainWindowSection = "ZpmoniDlg";

// Reads every key of the section, taking the member defaults above for absent keys. Nothing is
// validated here; the users of the values deal with out-of-range ones.
void LoadSettings(const ProfileStore& store, MonitorSettings& s);
// Writes every key of the section, replacing the file once; a new file gets them in this
// function's order.
void SaveSettings(ProfileStore& store, const MonitorSettings& s);
