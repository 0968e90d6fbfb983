// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"

#include <algorithm>
#include <charconv>

namespace zpmoni {

namespace {

// An empty list reads and writes like the file's default, a single bar.
constexpr std::string_view kEmptyTimeList = "|";

} // namespace

void LoadSettings(const ProfileStore& store, MonitorSettings& s)
{
    const MonitorSettings def;
    constexpr std::string_view sec = kProgramDataSection;
    auto getInt = [&](std::string_view key, const std::atomic<int32_t>& fallback) {
        return store.GetInt(sec, key, fallback.load());
    };

    s.folderPath = store.GetString(sec, "FolderPath", def.folderPath);
    s.exeType = getInt("ExeType", def.exeType);
    s.handleName = store.GetString(sec, "HandleName", def.handleName);
    // Only the low 16 bits of an out-of-range port are kept.
    s.port = static_cast<uint16_t>(store.GetInt(sec, "Port", def.port.load()));
    ParseTimeList(store.GetString(sec, "Schedule", kEmptyTimeList), s.schedule);
    ParseTimeList(store.GetString(sec, "ResetSchedule", kEmptyTimeList), s.resetSchedule);
    s.rebootAtInterval = getInt("RebootAtInterval", def.rebootAtInterval);
    s.resetAtInterval = getInt("ResetAtInterval", def.resetAtInterval);
    s.endurance = getInt("Endurance", def.endurance);
    s.intercept = getInt("Intercept", def.intercept);
    s.airsupport = getInt("Airsupport", def.airsupport);
    s.rebootIntervalSec = getInt("RebootIntervalSec", def.rebootIntervalSec);
    s.resetIntervalSec = getInt("ResetIntervalSec", def.resetIntervalSec);
    s.enduranceInterval = getInt("EnduranceInterval", def.enduranceInterval);
    s.interceptInterval = getInt("InterceptInterval", def.interceptInterval);
    s.airsupportInterval = getInt("AirsupportInterval", def.airsupportInterval);
    s.interfaceNumber = getInt("InterfaceNumber", def.interfaceNumber);
    s.closeErrorDialog = getInt("CloseErrorDialog", def.closeErrorDialog);
    s.startUp = getInt("StartUp", def.startUp);
    s.resolveName = getInt("ResolveName", def.resolveName);
    s.chatLog = getInt("ChatLog", def.chatLog);
    s.checksum = getInt("Checksum", def.checksum);
    s.cheatCheck = getInt("CheatCheck", def.cheatCheck);
    s.checkRunning = getInt("CheckRunning", def.checkRunning);
    s.minimizeZP = getInt("MinimizeZP", def.minimizeZP);
    s.packFile = store.GetString(sec, "PackFile", def.packFile);
    ParseRestartWarnings(store.GetString(sec, "RestartWarnings", "10,5,1"), s);
    s.restartWarningText = store.GetString(sec, "RestartWarningText", def.restartWarningText);
    s.serverUser = store.GetString(kMainWindowSection, "ServerUser", def.serverUser);
}

void SaveSettings(ProfileStore& store, const MonitorSettings& s)
{
    ProfileStore::Batch batch(store);
    constexpr std::string_view sec = kProgramDataSection;
    store.WriteString(sec, "FolderPath", s.folderPath);
    store.WriteInt(sec, "ExeType", s.exeType);
    store.WriteString(sec, "HandleName", s.handleName);
    store.WriteInt(sec, "Port", s.port.load());
    store.WriteString(sec, "Schedule", FormatTimeList(s.schedule));
    store.WriteString(sec, "ResetSchedule", FormatTimeList(s.resetSchedule));
    store.WriteInt(sec, "RebootAtInterval", s.rebootAtInterval);
    store.WriteInt(sec, "ResetAtInterval", s.resetAtInterval);
    store.WriteInt(sec, "RebootIntervalSec", s.rebootIntervalSec);
    store.WriteInt(sec, "ResetIntervalSec", s.resetIntervalSec);
    store.WriteInt(sec, "Endurance", s.endurance);
    store.WriteInt(sec, "Intercept", s.intercept);
    store.WriteInt(sec, "Airsupport", s.airsupport);
    store.WriteInt(sec, "EnduranceInterval", s.enduranceInterval);
    store.WriteInt(sec, "InterceptInterval", s.interceptInterval);
    store.WriteInt(sec, "AirsupportInterval", s.airsupportInterval);
    store.WriteInt(sec, "InterfaceNumber", s.interfaceNumber);
    store.WriteInt(sec, "CloseErrorDialog", s.closeErrorDialog);
    store.WriteInt(sec, "StartUp", s.startUp);
    store.WriteInt(sec, "ResolveName", s.resolveName);
    store.WriteInt(sec, "ChatLog", s.chatLog);
    store.WriteInt(sec, "Checksum", s.checksum);
    store.WriteInt(sec, "CheatCheck", s.cheatCheck);
    store.WriteInt(sec, "CheckRunning", s.checkRunning);
    store.WriteInt(sec, "MinimizeZP", s.minimizeZP);
    store.WriteString(sec, "PackFile", s.packFile);
}

int LoadListLine(const ProfileStore& store)
{
    return std::clamp(store.GetInt(kProgramDataSection, "ListLine", 200), 0, 10000);
}

void ParseRestartWarnings(std::string_view text, MonitorSettings& s)
{
    size_t n = 0;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        std::string_view piece = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        while (!piece.empty() && piece.front() == ' ')
            piece.remove_prefix(1);
        int32_t minutes = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), minutes);
        if (error == std::errc() && minutes >= 1 && minutes <= 1440 && n < s.restartWarnings.size())
            s.restartWarnings[n++] = minutes;
    }
    for (; n < s.restartWarnings.size(); ++n)
        s.restartWarnings[n] = 0;
}

}  // namespace zpmoni
