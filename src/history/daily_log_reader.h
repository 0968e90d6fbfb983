// SPDX-License-Identifier: MIT
#pragma once

#include "base/result.h"
#include "history/session_record.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace zpmoni {

class DirectoryListing;

// What tells one session from every other: a store that already holds a session of this key
// adds nothing, so that reading the same logs twice adds nothing the second time. The daily
// log carries no port, so sessions read from it have port 0.
struct SessionKey {
    Ipv4Address address;
    uint16_t port = 0;
    std::string user;
    int64_t logon = 0;
    auto operator<=>(const SessionKey&) const = default;
};

inline SessionKey KeyOf(const SessionRecord& s) { return {s.address, s.port, s.user, s.logon}; }

// Where finished sessions go (the history, or a count). Add must ignore a session whose key
// (KeyOf) it already holds; a failure ends the reading with that failure.
class SessionSink {
public:
    virtual ~SessionSink() = default;
    virtual Status Add(const SessionRecord& session) = 0;
};

// The calendar fields of a time in the local zone the logs were written in (SystemLocalTime,
// or a fixed zone in tests).
using LocalZone = std::tm (*)(int64_t);

struct BackfillCounts {
    size_t files = 0;            // daily logs read
    size_t skippedFiles = 0;     // daily logs that could not be read (too large, not a file)
    size_t lines = 0;            // lines seen, readable or not
    size_t sessions = 0;         // sessions handed to the sink
    size_t unreadable = 0;       // lines skipped: malformed, unknown, over the length cap
    size_t unmatched = 0;        // well-formed LOGOUT or JOIN lines without a session open
    std::vector<std::string> problems;  // why files were skipped, control bytes escaped
    bool operator==(const BackfillCounts&) const = default;
};

// Longest daily-log line read; the monitor's own lines are a few hundred bytes at most.
constexpr size_t kDailyLogLineLimit = 2048;
// Largest daily log read; a busy server writes a few megabytes a day.
constexpr size_t kDailyLogFileLimit = size_t{256} << 20;

// Turns daily-log text into sessions, one file at a time in date order:
//  - "HH:MM:SS<TAB>ADDR<TAB>USER<TAB>LOGIN" opens a session for ADDR and USER;
//  - "HH:MM:SS<TAB>ADDR<TAB>USER<TAB>JOIN<TAB>IFF<TAB>AIRCRAFT<TAB>START<TAB>PACK" adds an
//    aircraft to that session;
//  - "HH:MM:SS<TAB>ADDR<TAB>USER<TAB>LOGOUT" closes it;
//  - "Start server", "Terminate server", "Take control", "Ground obj reconstruct" are known;
//    a server that starts ends every session still open, at the time of the "Terminate
//    server" before it if there was one, else at its own.
// A session stays open across midnight (its log-off is in the next day's file); a second
// LOGIN of the same address and user closes the first at the new log-on's time, since its
// LOGOUT was lost. Sessions still open at the end stay open (log-off 0). Lines end in LF or
// CR LF (the older monitor's). Names are the bytes of the line with the log's "\xHH" escapes
// of control bytes undone. Any other line, one over kDailyLogLineLimit and a last line without
// its line end (a write cut short) are counted as unreadable and skipped.
class DailyLogReader {
public:
    DailyLogReader(SessionSink& sink, LocalZone zone) : sink(sink), zone(zone) {}

    // The whole text of the daily log of local date `date` (year, month, day as in the name).
    Status ReadDay(int year, int month, int day, std::string_view text);
    // Hands the sessions still open to the sink; they keep log-off 0.
    Status Finish();

    const BackfillCounts& Counts() const { return counts; }
    BackfillCounts& Counts() { return counts; }

private:
    using OpenKey = std::tuple<Ipv4Address, std::string>;
    Status ReadLine(const std::tm& date, std::string_view line);
    Status Close(std::map<OpenKey, SessionRecord>::iterator it, int64_t at);
    int64_t UtcOf(const std::tm& local);

    SessionSink& sink;
    LocalZone zone;
    int64_t offset = 0;  // the zone's offset of the latest line, tried first for the next
    int64_t serverEnded = 0;  // time of a "Terminate server" not yet followed by a start
    std::map<OpenKey, SessionRecord> open;
    BackfillCounts counts;
};

// The date of a daily log's file name "zplogYYYYMMDD.txt" (letter case aside) as year*10000 +
// month*100 + day; 0 for any other name.
int DailyLogDate(std::string_view name);

// Reads every daily log in `logFolder` (the working folder's "Log"), oldest first, into the
// sink. Chat, action and other files are left alone; a daily log that cannot be read is
// counted and told in problems. A failure only when the folder cannot be listed or the sink
// fails.
Result<BackfillCounts> ImportDailyLogs(const std::string& logFolder, const DirectoryListing& listing,
                                       LocalZone zone, SessionSink& sink);

struct Backfill {
    std::vector<SessionRecord> sessions;  // by log-on time
    BackfillCounts counts;
};

// ImportDailyLogs into memory.
Result<Backfill> ReadDailyLogFolder(const std::string& logFolder, const DirectoryListing& listing,
                                    LocalZone zone);

}  // namespace zpmoni
