// SPDX-License-Identifier: MIT
#include "history/daily_log_reader.h"

#include "base/ascii.h"
#include "base/clock.h"
#include "base/regular_file.h"
#include "base/text_escape.h"
#include "platform/directory_listing.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace zpmoni {

namespace {

int Digits(std::string_view text)
{
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Undoes AppendEscaped: only "\x" with two lowercase hex digits naming a control byte is an
// escape, since only those were ever written; any other backslash is the name's own.
std::string Unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const int hi = HexDigit(text[i + 2]), lo = HexDigit(text[i + 3]);
            const int b = hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
            if (b >= 0 && (b < 0x20 || b == 0x7F)) {
                out.push_back(static_cast<char>(b));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// Up to `N` TAB-separated fields; false when the line has more.
template <size_t N>
bool SplitFields(std::string_view line, std::array<std::string_view, N>& fields, size_t& count)
{
    count = 0;
    for (;;) {
        if (count == N)
            return false;
        const size_t tab = line.find('\t');
        fields[count++] = line.substr(0, tab);
        if (tab == std::string_view::npos)
            return true;
        line.remove_prefix(tab + 1);
    }
}

bool IsServerLine(std::string_view text)
{
    return text == "Start server" || text == "Terminate server" || text == "Take control" ||
           text == "Ground obj reconstruct";
}

class CollectingSink final : public SessionSink {
public:
    Status Add(const SessionRecord& session) override
    {
        sessions.push_back(session);
        return {};
    }
    std::vector<SessionRecord> sessions;
};

}  // namespace

int64_t DailyLogReader::UtcOf(const std::tm& local)
{
    const int64_t wall = CivilSeconds(local);
    // The zone's offset rarely changes between lines: one look-up confirms it. Around a change
    // a few rounds settle it; a wall time the change skipped takes the offset before it.
    int64_t t = wall - offset;
    for (int round = 0; round < 4; ++round) {
        const int64_t seen = CivilSeconds(zone(t)) - t;
        if (seen == offset)
            return t;
        offset = seen;
        t = wall - offset;
    }
    return t;
}

Status DailyLogReader::Close(std::map<OpenKey, SessionRecord>::iterator it, int64_t at)
{
    SessionRecord session = std::move(it->second);
    open.erase(it);
    // A clock set back must not make a session end before it began.
    session.logoff = std::max(at, session.logon);
    ++counts.sessions;
    return sink.Add(session);
}

Status DailyLogReader::ReadLine(const std::tm& date, std::string_view line)
{
    std::array<std::string_view, 8> f;
    size_t n = 0;
    if (line.size() < 10 || line[2] != ':' || line[5] != ':' || line[8] != '\t' ||
        !SplitFields(line.substr(9), f, n)) {
        ++counts.unreadable;
        return {};
    }
    const int hour = Digits(line.substr(0, 2)), minute = Digits(line.substr(3, 2)),
              second = Digits(line.substr(6, 2));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
        ++counts.unreadable;
        return {};
    }
    std::tm local = date;
    local.tm_hour = hour, local.tm_min = minute, local.tm_sec = second;
    if (n == 1 && IsServerLine(f[0])) {
        // The LOGOUTs of a terminated server's players follow its line as their connections
        // close; whoever is still open when a server starts anew lost theirs, and left no later
        // than the termination, when there was one.
        if (f[0] == "Terminate server")
            serverEnded = UtcOf(local);
        if (f[0] == "Start server") {
            const int64_t at = serverEnded ? serverEnded : UtcOf(local);
            serverEnded = 0;
            while (!open.empty())
                if (Status s = Close(open.begin(), at); !s)
                    return s;
        }
        return {};
    }
    const auto address = Ipv4Address::Parse(f[0]);
    int iff = 0;
    const bool isJoin = n == 7 && f[2] == "JOIN";
    if (isJoin) {
        const auto [end, error] = std::from_chars(f[3].data(), f[3].data() + f[3].size(), iff);
        if (error != std::errc() || end != f[3].data() + f[3].size() || f[3].empty()) {
            ++counts.unreadable;
            return {};
        }
    }
    if (!address || !(isJoin || (n == 3 && (f[2] == "LOGIN" || f[2] == "LOGOUT")))) {
        ++counts.unreadable;
        return {};
    }
    const int64_t at = UtcOf(local);
    std::string user = Unescaped(f[1]);
    const auto it = open.find(OpenKey{*address, user});
    if (f[2] == "LOGIN") {
        // The same player logging on again without a LOGOUT between: that one was lost.
        if (it != open.end())
            if (Status s = Close(it, at); !s)
                return s;
        SessionRecord& session = open[OpenKey{*address, user}];
        session.address = *address;
        session.user = std::move(user);
        session.logon = at;
        return {};
    }
    if (it == open.end()) {
        ++counts.unmatched;
        return {};
    }
    if (f[2] == "LOGOUT")
        return Close(it, at);
    it->second.aircraft.push_back({Unescaped(f[4]), Unescaped(f[6])});
    return {};
}

Status DailyLogReader::ReadDay(int year, int month, int day, std::string_view text)
{
    std::tm date{};
    date.tm_year = year - 1900, date.tm_mon = month - 1, date.tm_mday = day;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++counts.lines;
        // A line without its end was cut short while being written.
        if (end == std::string_view::npos || line.size() > kDailyLogLineLimit) {
            ++counts.unreadable;
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (Status s = ReadLine(date, line); !s)
            return s;
    }
    return {};
}

Status DailyLogReader::Finish()
{
    for (auto& [key, session] : open) {
        ++counts.sessions;
        if (Status s = sink.Add(session); !s)
            return s;
    }
    open.clear();
    return {};
}

int DailyLogDate(std::string_view name)
{
    if (name.size() != 17 || !AsciiEqualNoCase(name.substr(0, 5), "zplog") ||
        !AsciiEqualNoCase(name.substr(13), ".txt"))
        return 0;
    const int date = Digits(name.substr(5, 8));
    const int month = date / 100 % 100, day = date % 100;
    return date < 0 || month < 1 || month > 12 || day < 1 || day > 31 ? 0 : date;
}

Result<BackfillCounts> ImportDailyLogs(const std::string& logFolder, const DirectoryListing& listing,
                                       LocalZone zone, SessionSink& sink)
{
    const auto names = listing.Names(logFolder);
    if (!names)
        return Failure{"Cannot read the folder " + Escaped(logFolder)};
    std::vector<std::pair<int, std::string>> days;
    for (const std::string& name : *names)
        if (const int date = DailyLogDate(name))
            days.emplace_back(date, name);
    std::sort(days.begin(), days.end());
    DailyLogReader reader(sink, zone);
    for (const auto& [date, name] : days) {
        const std::string path = logFolder + "/" + name;
        const FileContent file = ReadRegularFile(path, kDailyLogFileLimit);
        // Removed since the folder was listed: nothing to tell.
        if (file.status == FileStatus::Missing)
            continue;
        if (file.status != FileStatus::Ok) {
            ++reader.Counts().skippedFiles;
            reader.Counts().problems.push_back(FileProblem("read", path, {file.status, file.error}));
            continue;
        }
        ++reader.Counts().files;
        if (Status s = reader.ReadDay(date / 10000, date / 100 % 100, date % 100, file.data); !s)
            return Failure{s.error()};
    }
    if (Status s = reader.Finish(); !s)
        return Failure{s.error()};
    return reader.Counts();
}

Result<Backfill> ReadDailyLogFolder(const std::string& logFolder, const DirectoryListing& listing, LocalZone zone)
{
    CollectingSink sink;
    Result<BackfillCounts> counts = ImportDailyLogs(logFolder, listing, zone, sink);
    if (!counts)
        return Failure{counts.error()};
    std::stable_sort(sink.sessions.begin(), sink.sessions.end(),
                     [](const SessionRecord& a, const SessionRecord& b) { return a.logon < b.logon; });
    return Backfill{std::move(sink.sessions), std::move(counts.value())};
}

}  // namespace zpmoni
