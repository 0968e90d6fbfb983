// SPDX-License-Identifier: MIT
#pragma once

#include "base/ipv4_address.h"
#include "base/result.h"
#include "history/session_record.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zpmoni {

// The file the history lives in, in the working folder.
inline constexpr std::string_view kHistoryFileName = "history.db";
// The layout this program writes; older files are brought up to it when opened.
inline constexpr int kHistorySchemaVersion = 1;
// Most sessions a search returns, newest first, unless told otherwise.
inline constexpr int kDefaultSearchLimit = 1000;

// A session as stored: its row number and what it holds.
struct StoredSession {
    int64_t id = 0;
    SessionRecord record;
};

// How often and how lately a name was used from an address (or an address with a name).
struct SeenWith {
    std::string user;  // bytes as stored
    Ipv4Address address;
    int64_t sessions = 0;
    int64_t lastLogon = 0;
};

// What a search asks for; empty fields match everything. Names compare without regard to the
// case of ASCII letters (a Shift_JIS character's second byte is never folded).
struct HistoryQuery {
    enum class NameMatch { Prefix, Substring, Exact };
    std::string user{};
    NameMatch match = NameMatch::Prefix;
    // Address block: sessions whose address & mask == address & mask; mask 0 matches all.
    Ipv4Address address{};
    Ipv4Address mask{};
    // Log-on time in [from, to); 0 leaves that side open.
    int64_t from = 0;
    int64_t to = 0;
    int limit = kDefaultSearchLimit;
};

// The player history in an SQLite file (WAL journal, so a killed writer leaves the file whole
// and readers never wait for it). One object per thread: the connection is not shared. Texts
// are stored as the bytes they came as (BLOBs), never interpreted; every value is bound.
class HistoryStore {
public:
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens or creates the file and brings its layout up to this program's; a file of a newer
    // layout, or not a database, is refused.
    static Result<std::unique_ptr<HistoryStore>> Open(const std::string& path);

    int SchemaVersion() const;

    // Runs `work` in one transaction: committed if it succeeds, rolled back if not (inside
    // another transaction, as part of that one).
    Status InTransaction(const std::function<Status()>& work);

    // A new session with its aircraft; its row number.
    Result<int64_t> Insert(const SessionRecord& s);
    // Inserts unless a session with the same address, port, name and log-on is stored (a
    // second import of the same logs adds nothing); whether it inserted.
    Result<bool> InsertIfAbsent(const SessionRecord& s);
    Status AddAircraft(int64_t session, const FlownAircraft& a);
    // Log-off time and traffic of a session.
    Status Close(int64_t session, int64_t logoff, uint64_t bytesIn, uint64_t bytesOut, uint32_t damageSent);

    Result<std::vector<StoredSession>> Search(const HistoryQuery& q);
    // Other names used from any address this name used (the name itself not included).
    Result<std::vector<SeenWith>> OtherNamesOf(std::string_view user);
    // Addresses used with this name, logged on at `since` or later.
    Result<std::vector<SeenWith>> AddressesOf(std::string_view user, int64_t since = 0);

    // Deletes the sessions logged on more than keepDays days before now (0 keeps all), in one
    // transaction; how many went.
    Result<int64_t> Prune(int64_t now, int keepDays);

private:
    explicit HistoryStore(sqlite3* db);
    Status Migrate();
    Status Exec(const char* sql);
    Result<sqlite3_stmt*> Prepare(const char* sql);
    Status LoadAircraft(StoredSession& s);
    Failure Fail(std::string_view what) const;
    Result<std::vector<SeenWith>> Seen(const char* sql, std::string_view user, int64_t since);

    sqlite3* db = nullptr;
    // Prepared statements by the address of their text, and the texts of searches' shapes.
    std::vector<std::pair<const char*, sqlite3_stmt*>> statements;
    std::vector<std::unique_ptr<std::string>> shapes;
};

// What the search box asks for: "a.b.c.d" or "a.b.c.d/n" an address or block, "*text" a part of
// a name, any other text the start of a name; nothing for an empty box or a bad block.
std::optional<HistoryQuery> ParseHistorySearch(std::string_view text);

// The bytes of a name with ASCII letters in lower case, Shift_JIS double-byte characters kept
// whole: the key names are searched by.
std::string FoldName(std::string_view user);

}  // namespace zpmoni
