// SPDX-License-Identifier: MIT
#include "base/monitor_settings.h"

#include "base/ascii.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <type_traits>

namespace zpmoni {

namespace {

using S = MonitorSettings;
constexpr std::string_view P = kProgramDataSection;
constexpr SheetPage kStart = SheetPage::ServerStart;
constexpr SheetPage kSchedule = SheetPage::Schedule;
// A period is entered in minutes and kept in seconds, so it ends where the seconds still fit.
constexpr int64_t kMaxPeriod = std::numeric_limits<int32_t>::max() / 60 * 60;

// A check box: 0 or 1.
constexpr SettingKey Flag(std::string_view key, int32_t S::*member, int32_t def, SheetPage page)
{
    return {P, key, member, def, {}, 0, 1, page};
}

constexpr SettingKey Period(std::string_view key, int32_t S::*member, int32_t def)
{
    return {P, key, member, def, {}, 60, kMaxPeriod, kSchedule};
}

// The main window's own value; the sheet checks the close period on its page.
constexpr SettingKey Window(std::string_view key, int32_t S::*member, int32_t def)
{
    return {kMainWindowSection, key, member, def, {}, 0, 0, SheetPage::None, SavedBy::Window};
}

constexpr int32_t kMaxListLine = 10000;

constexpr SettingKey EventList(std::string_view key, int32_t S::*member, int32_t def, int32_t max)
{
    return {P, key, member, def, {}, 0, max, SheetPage::None, SavedBy::EventList};
}

constexpr std::string_view kAlertsSection = "Alerts";

constexpr SettingKey Alerts(std::string_view key, std::string S::*member, std::string_view def)
{
    return {kAlertsSection, key, member, 0, def, 0, 0, SheetPage::None, SavedBy::Nobody};
}

constexpr std::string_view kWebSection = "Web";

constexpr SettingKey Web(std::string_view key, std::string S::*member, std::string_view def)
{
    return {kWebSection, key, member, 0, def, 0, 0, SheetPage::None, SavedBy::Nobody};
}

constexpr SettingKey WebSwitch(std::string_view key, int32_t S::*member)
{
    return {kWebSection, key, member, 0, {}, 0, 1, SheetPage::None, SavedBy::Nobody};
}

// Keys the sheet saves in the order a new file gets them, then the read only ones, then those
// that other owners write.
constexpr SettingKey kKeys[] = {
    {P, "FolderPath", &S::folderPath, 0, kDefaultFolderPath, 0, 0, kStart},
    {P, "ExeType", &S::exeType, 1, {}, 0, 3, kStart},
    {P, "HandleName", &S::handleName, 0, "USERNAME", 0, 0, kStart},
    {P, "Port", &S::port, kDefaultPort, {}, 0, 65535, kStart},
    // An empty list reads and writes like the file's default, a single bar.
    {P, "Schedule", &S::schedule, 0, "|", 0, 0, kSchedule},
    {P, "ResetSchedule", &S::resetSchedule, 0, "|", 0, 0, kSchedule},
    Flag("RebootAtInterval", &S::rebootAtInterval, 0, kSchedule),
    Flag("ResetAtInterval", &S::resetAtInterval, 0, kSchedule),
    Period("RebootIntervalSec", &S::rebootIntervalSec, 36000),
    Period("ResetIntervalSec", &S::resetIntervalSec, 36000),
    Flag("Endurance", &S::endurance, 0, kSchedule),
    Flag("Intercept", &S::intercept, 0, kSchedule),
    Flag("Airsupport", &S::airsupport, 0, kSchedule),
    Period("EnduranceInterval", &S::enduranceInterval, 300),
    Period("InterceptInterval", &S::interceptInterval, 300),
    Period("AirsupportInterval", &S::airsupportInterval, 300),
    // The fifth entry is one the interface table cannot have; the sheet lets it be chosen.
    {P, "InterfaceNumber", &S::interfaceNumber, 0, {}, 0, 4, kStart},
    Flag("CloseErrorDialog", &S::closeErrorDialog, 1, kStart),
    Flag("StartUp", &S::startUp, 0, kStart),
    Flag("ResolveName", &S::resolveName, 1, kStart),
    Flag("ChatLog", &S::chatLog, 0, kStart),
    Flag("Checksum", &S::checksum, 1, kStart),
    Flag("CheatCheck", &S::cheatCheck, 1, kStart),
    Flag("CheckRunning", &S::checkRunning, 0, kStart),
    Flag("MinimizeZP", &S::minimizeZP, 0, kStart),
    {P, "PackFile", &S::packFile, 0, "Packlist.txt", 0, 0, SheetPage::PackList},
    // Read only: no page edits them; the operator writes them by hand.
    {P, "RestartWarnings", &S::restartWarnings, 0, "10,5,1", 0, 0, SheetPage::None, SavedBy::Nobody},
    {P, "RestartWarningText", &S::restartWarningText, 0, "Server restarts in %d min", 0, 0, SheetPage::None,
     SavedBy::Nobody},
    {kMainWindowSection, "ServerUser", &S::serverUser, 0, "", 0, 0, SheetPage::None, SavedBy::Nobody},
    {"History", "KeepDays", &S::historyKeepDays, 365, {}, 0, 0, SheetPage::None, SavedBy::Nobody},
    // Written when the main window closes, in this order.
    Window("CloseInterval", &S::closeInterval, 800),
    Window("WindowTextInterval", &S::windowTextInterval, 1000),
    Window("CheckRunningInterval", &S::checkRunningInterval, 3000),
    Window("Glimit", &S::glimit, 0),
    Window("HangSeconds", &S::hangSeconds, 120),
    // Written with the event list's pages, in this order.
    EventList("DisplayLogin", &S::displayLogin, 1, 1),
    EventList("DisplayJoin", &S::displayJoin, 1, 1),
    EventList("CreateLogfile", &S::createLogfile, 1, 1),
    EventList("ListLine", &S::listLine, 200, kMaxListLine),
    // Read only, written by hand: where alerts go and how often.
    Alerts("Url1", &S::alertUrl1, ""),
    Alerts("Url2", &S::alertUrl2, ""),
    Alerts("Url3", &S::alertUrl3, ""),
    Alerts("Url4", &S::alertUrl4, ""),
    Alerts("Format", &S::alertFormat, "plain"),
    {kAlertsSection, "AlertQuietSeconds", &S::alertQuietSeconds, 300, {}, 0, 86400, SheetPage::None, SavedBy::Nobody},
    // Read only, written by hand: the operator console.
    WebSwitch("Enable", &S::webEnable),
    Web("Listen", &S::webListen, "127.0.0.1:8790"),
    Web("CertFile", &S::webCertFile, ""),
    Web("KeyFile", &S::webKeyFile, ""),
    WebSwitch("AllowPlainHttp", &S::webAllowPlainHttp),
    WebSwitch("MetricsOpen", &S::webMetricsOpen),
    Web("HostNames", &S::webHostNames, ""),
};

template <typename T>
constexpr bool kNumber = std::is_same_v<T, int32_t S::*> || std::is_same_v<T, uint16_t S::*>;

void ParseWarnings(std::string_view text, RestartWarnings& warnings)
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
        if (error == std::errc() && minutes >= 1 && minutes <= 1440 && n < warnings.size())
            warnings[n++] = minutes;
    }
    for (; n < warnings.size(); ++n)
        warnings[n] = 0;
}

// "%d" at pos: skips white space, then an optional sign and at least one digit. Values beyond
// 32 bits saturate instead of overflowing.
std::optional<int32_t> ScanInt(std::string_view text, size_t& pos)
{
    std::string_view rest = text.substr(pos);
    const bool negative = TakeSpaceAndSign(rest);
    const size_t digitsStart = text.size() - rest.size();
    size_t p = digitsStart;
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        value = std::min(value * 10 + (text[p] - '0'), kLimit);
        ++p;
    }
    if (p == digitsStart)
        return std::nullopt;
    if (negative)
        value = -value;
    pos = p;
    return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

std::string TimeText(const TimeList& list, const char* format)
{
    std::string text;
    for (const TimeOfDay& t : list) {
        char piece[32];
        const int len = std::snprintf(piece, sizeof piece, format, static_cast<int>(t.hour), static_cast<int>(t.minute));
        text.append(piece, static_cast<size_t>(len));
    }
    return text;
}

}  // namespace

MonitorSettings::MonitorSettings()
{
    for (const SettingKey& k : kKeys) {
        if (IsNumber(k))
            SetSettingNumber(*this, k, k.number);
        else
            SetSettingText(*this, k, k.text);
    }
}

std::span<const SettingKey> SettingKeys()
{
    return kKeys;
}

const SettingKey& Setting(std::string_view key)
{
    for (const SettingKey& k : kKeys) {
        if (k.key == key)
            return k;
    }
    std::abort();  // a name the program itself spelled wrong
}

bool IsNumber(const SettingKey& k)
{
    return std::visit([](auto m) { return kNumber<decltype(m)>; }, k.member);
}

int64_t SettingNumber(const MonitorSettings& s, const SettingKey& k)
{
    return std::visit(
        [&](auto m) -> int64_t {
            if constexpr (kNumber<decltype(m)>)
                return s.*m;
            else
                return 0;
        },
        k.member);
}

void SetSettingNumber(MonitorSettings& s, const SettingKey& k, int64_t value)
{
    std::visit(
        [&](auto m) {
            if constexpr (kNumber<decltype(m)>)
                s.*m = static_cast<std::remove_reference_t<decltype(s.*m)>>(value);
        },
        k.member);
}

std::string SettingText(const MonitorSettings& s, const SettingKey& k)
{
    return std::visit(
        [&](auto m) -> std::string {
            const auto& v = s.*m;
            using T = std::remove_cvref_t<decltype(v)>;
            if constexpr (kNumber<decltype(m)>) {
                return std::to_string(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, TimeList>) {
                return FormatTimeList(v);
            } else {
                std::string text;
                for (int32_t minutes : v) {
                    if (minutes > 0)
                        text += (text.empty() ? "" : ",") + std::to_string(minutes);
                }
                return text;
            }
        },
        k.member);
}

void SetSettingText(MonitorSettings& s, const SettingKey& k, std::string_view text)
{
    std::visit(
        [&](auto m) {
            auto& v = s.*m;
            using T = std::remove_cvref_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>)
                v = text;
            else if constexpr (std::is_same_v<T, TimeList>)
                ParseTimeList(text, v);
            else if constexpr (std::is_same_v<T, RestartWarnings>)
                ParseWarnings(text, v);
        },
        k.member);
}

void CopySheetPage(SheetPage page, const MonitorSettings& from, MonitorSettings& to)
{
    for (const SettingKey& k : kKeys) {
        if (k.page == page)
            std::visit([&](auto m) { to.*m = from.*m; }, k.member);
    }
}

void LoadSettings(const ProfileStore& store, MonitorSettings& s)
{
    for (const SettingKey& k : kKeys) {
        // Only the low 16 bits of an out-of-range port are kept.
        if (IsNumber(k))
            SetSettingNumber(s, k, store.GetInt(k.section, k.key, k.number));
        else
            SetSettingText(s, k, store.GetString(k.section, k.key, k.text));
    }
}

void SaveSettings(ProfileStore& store, const MonitorSettings& s, SavedBy group)
{
    ProfileStore::Batch batch(store);
    for (const SettingKey& k : kKeys) {
        if (k.saved == group && group != SavedBy::Nobody)
            store.WriteString(k.section, k.key, SettingText(s, k));
    }
}

int HeldListLine(const MonitorSettings& s)
{
    return std::clamp(s.listLine, 0, kMaxListLine);
}

void ParseRestartWarnings(std::string_view text, MonitorSettings& s)
{
    ParseWarnings(text, s.restartWarnings);
}

void ParseTimeList(std::string_view text, TimeList& list)
{
    list.clear();
    size_t piece = 0;
    while (list.size() < kTimeListCapacity) {
        size_t pos = piece;
        if (std::optional<int32_t> hour = ScanInt(text, pos)) {
            int32_t minute = 0;
            if (pos < text.size() && text[pos] == ':') {
                ++pos;
                minute = ScanInt(text, pos).value_or(0);
            }
            // 64 bits so that a huge hour plus the carried minutes cannot overflow; C++ division
            // truncates toward zero and the remainder takes the dividend's sign, as wanted.
            const int64_t h = int64_t{*hour} + minute / 60;
            list.push_back({static_cast<int32_t>(h % 24), minute % 60});
        }
        const size_t bar = text.find('|', piece);
        if (bar == std::string_view::npos)
            break;
        piece = bar + 1;
    }
}

std::string FormatTimeList(const TimeList& list)
{
    return TimeText(list, "%d:%02d|");
}

std::string TimeListLines(const TimeList& list)
{
    return TimeText(list, "%d:%02d\n");
}

void ParseTimeListLines(std::string_view lines, TimeList& list)
{
    std::string text;
    text.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == '\r' && i + 1 < lines.size() && lines[i + 1] == '\n')
            continue;  // the LF that follows stands for the pair
        text.push_back(lines[i] == '\n' ? '|' : lines[i]);
    }
    ParseTimeList(text, list);
}

}  // namespace zpmoni
