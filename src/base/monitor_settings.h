// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/profile_store.h"

namespace zpmoni {

// Section of the file that holds the monitor's own settings.
inline constexpr std::string_view kProgramDataSection = "ProgramData";
// Section of the main window's own values, which also holds ServerUser.
inline constexpr std::string_view kMainWindowSection = "ZpmoniDlg";
// The server's TCP port when nothing else is configured.
inline constexpr uint16_t kDefaultPort = 7915;
// Where the simulator is installed when nothing else is configured.
inline constexpr std::string_view kDefaultFolderPath = "/opt/zephrine";

// One time of day of a schedule. Values are stored as read, so a negative hour or minute gives
// an entry that matches no time of day.
struct TimeOfDay {
    int32_t hour = 0;
    int32_t minute = 0;
    bool operator==(const TimeOfDay&) const = default;
};
// At most kTimeListCapacity entries.
using TimeList = std::vector<TimeOfDay>;
inline constexpr size_t kTimeListCapacity = 24;

// Minutes before a restart at which the players are warned; 0 ends the list.
using RestartWarnings = std::array<int32_t, 8>;

// The settings the application object loads at start-up, a plain value: the main thread owns
// one, and a thread that reads settings gets a copy of its own (see SharedSettings). Every
// member's key, default and limits are in the table SettingKeys() returns; a new object holds
// every default.
struct MonitorSettings {
    MonitorSettings();
    bool operator==(const MonitorSettings&) const = default;

    std::string folderPath;
    std::string handleName;
    int32_t exeType = 0;  // 0 OpenGL, 1 Non-OpenGL, 2 DirectX, 3 Console
    int32_t closeErrorDialog = 0;
    uint16_t port = 0;
    int32_t interfaceNumber = 0;
    int32_t minimizeZP = 0;
    int32_t rebootAtInterval = 0;
    int32_t resetAtInterval = 0;
    int32_t intercept = 0;
    int32_t endurance = 0;
    int32_t airsupport = 0;
    int32_t checkRunning = 0;
    int32_t rebootIntervalSec = 0;
    int32_t resetIntervalSec = 0;
    int32_t interceptInterval = 0;
    int32_t enduranceInterval = 0;
    int32_t airsupportInterval = 0;
    TimeList schedule;
    TimeList resetSchedule;
    int32_t startUp = 0;
    int32_t resolveName = 0;
    int32_t chatLog = 0;
    int32_t checksum = 0;
    int32_t cheatCheck = 0;
    std::string packFile;

    // Restart warnings in chat: minutes before a scheduled or periodic restart and the line
    // sent, "%d" standing for the minutes; an empty line sends none.
    RestartWarnings restartWarnings{};
    std::string restartWarningText;

    // The user a root monitor starts the server as: empty refuses the start, "root" keeps root.
    std::string serverUser;
    // Days the player history keeps a session; 0 keeps every one.
    int32_t historyKeepDays = 0;

    // The main window's values: the error-dialog close period and the window-text and
    // check-running periods (ms), whether the G limiter connects, and the silence after which
    // the server counts as hung (s).
    int32_t closeInterval = 0;
    int32_t windowTextInterval = 0;
    int32_t checkRunningInterval = 0;
    int32_t glimit = 0;
    int32_t hangSeconds = 0;
    // The event list's: which events it shows and writes, and how many rows it keeps.
    int32_t displayLogin = 0;
    int32_t displayJoin = 0;
    int32_t createLogfile = 0;
    int32_t listLine = 0;
    // Webhooks the operator's alerts are posted to (http or https), their body's shape
    // ("plain", "discord", "slack") and the least seconds between two alerts of one kind.
    std::string alertUrl1;
    std::string alertUrl2;
    std::string alertUrl3;
    std::string alertUrl4;
    std::string alertFormat;
    int32_t alertQuietSeconds = 0;
    // The operator console: whether it is served, where, with which certificate and key (PEM,
    // HTTPS when both are set), whether a non-loopback address may go without TLS, whether
    // /metrics needs no token on loopback, and further host names (comma-separated).
    int32_t webEnable = 0;
    std::string webListen;
    std::string webCertFile;
    std::string webKeyFile;
    int32_t webAllowPlainHttp = 0;
    int32_t webMetricsOpen = 0;
    std::string webHostNames;
};

// Which page of the settings sheet edits a key.
enum class SheetPage : uint8_t { None, ServerStart, Schedule, PackList };
// When a key is written: with the sheet's OK, when the main window closes, with the event
// list's pages, or never (read only: the file keeps the user's text).
enum class SavedBy : uint8_t { Sheet, Window, EventList, Nobody };

// The member a key is read into; its type is the key's type.
using SettingMember =
    std::variant<int32_t MonitorSettings::*, uint16_t MonitorSettings::*, std::string MonitorSettings::*,
                 TimeList MonitorSettings::*, RestartWarnings MonitorSettings::*>;

// One row of the settings table.
struct SettingKey {
    std::string_view section;
    std::string_view key;
    SettingMember member;
    int32_t number = 0;          // the default of a number
    std::string_view text = {};  // the default of any other type, as the file holds it
    int64_t min = 0;             // what the settings sheet accepts for a number
    int64_t max = 0;
    SheetPage page = SheetPage::None;
    SavedBy saved = SavedBy::Sheet;
};

// Every key, saved ones in the order a new file gets them.
std::span<const SettingKey> SettingKeys();
// The row of a key of the table; the name must be one of them.
const SettingKey& Setting(std::string_view key);

bool IsNumber(const SettingKey& k);
// A number key's value, and a new one (a port keeps the low 16 bits).
int64_t SettingNumber(const MonitorSettings& s, const SettingKey& k);
void SetSettingNumber(MonitorSettings& s, const SettingKey& k, int64_t value);
// The value as the file holds it, and back (for any key but a number).
std::string SettingText(const MonitorSettings& s, const SettingKey& k);
void SetSettingText(MonitorSettings& s, const SettingKey& k, std::string_view text);
// The keys a page of the sheet edits, from one settings value into another.
void CopySheetPage(SheetPage page, const MonitorSettings& from, MonitorSettings& to);

// Reads every key of the table, taking the defaults for absent keys (and for empty numbers).
// Nothing is validated here; the users of the values deal with out-of-range ones.
void LoadSettings(const ProfileStore& store, MonitorSettings& s);
// ListLine as loaded, held to 0 to 10,000: the most rows the event list keeps, so that a
// hand-edited value cannot make the list grow without bound.
int HeldListLine(const MonitorSettings& s);
// Writes every key the sheet saves (or the keys of another group), replacing the file once.
void SaveSettings(ProfileStore& store, const MonitorSettings& s, SavedBy group = SavedBy::Sheet);

// "10,5,1": minutes from 1 to 1440, at most eight of them; other pieces are skipped.
void ParseRestartWarnings(std::string_view text, MonitorSettings& s);

// Reads pieces of "hour:minute" each closed by "|" (scanned like "%d:%d|") into the list,
// replacing it. Minutes above 59 carry into the hour and the hour wraps at 24; pieces that do
// not begin with a number are skipped; pieces beyond kTimeListCapacity are ignored.
void ParseTimeList(std::string_view text, TimeList& list);
// "%d:%02d|" per entry; an empty list gives "".
std::string FormatTimeList(const TimeList& list);
// One "%d:%02d" line per entry, as the schedule page shows a time list, and back: line ends
// (CR LF or LF) stand for the bars.
std::string TimeListLines(const TimeList& list);
void ParseTimeListLines(std::string_view lines, TimeList& list);

}  // namespace zpmoni
