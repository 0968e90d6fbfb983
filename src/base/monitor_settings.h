// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/profile_store.h"
#include "base/time_list.h"

namespace zpmoni {

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

    // Restart warnings in chat, keys of the schedule's section: minutes before a scheduled or
    // periodic restart (0 ends the list) and the line sent, "%d" standing for the minutes; an
    // empty line sends none. Read only: no page edits them, so the file keeps the user's text.
    // The text is used on the main thread only.
    static constexpr int kRestartWarnings = 8;
    std::array<std::atomic<int32_t>, kRestartWarnings> restartWarnings{10, 5, 1};
    std::string restartWarningText{"Server restarts in %d min"};

    // The user a root monitor starts the server as (key ServerUser of the main window's
    // section): empty refuses the start, "root" keeps root. Read only; the operator writes it.
    std::string serverUser;
};

// "10,5,1": minutes from 1 to 1440, at most kRestartWarnings of them; other pieces are skipped.
void ParseRestartWarnings(std::string_view text, MonitorSettings& s);

// Section of the main window's own values, which also holds ServerUser.
inline constexpr std::string_view kMainWindowSection = "ZpmoniDlg";

// Reads every key of the section, taking the member defaults above for absent keys. Nothing is
// validated here; the users of the values deal with out-of-range ones.
void LoadSettings(const ProfileStore& store, MonitorSettings& s);
// ListLine (ProgramData, default 200): the most rows the event list keeps, held to 0 to 10,000,
// so that a hand-edited value cannot make the list grow without bound.
int LoadListLine(const ProfileStore& store);
// Writes every key of the section, replacing the file once; a new file gets them in this
// function's order.
void SaveSettings(ProfileStore& store, const MonitorSettings& s);

}  // namespace zpmoni
