// SPDX-License-Identifier: MIT
#include "history/history_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <utility>
#include <variant>

namespace zpmoni {

namespace {

// One step per layout version: steps[n] brings a version-n file to version n + 1. A file is
// only ever moved forward, each step in its own transaction with its version number, so a
// step that fails leaves the file as it was.
constexpr const char* kMigrations[] = {
    R"sql(
CREATE TABLE sessions(
  id INTEGER PRIMARY KEY,
  address INTEGER NOT NULL,
  port INTEGER NOT NULL,
  user BLOB NOT NULL,
  user_fold BLOB NOT NULL,
  logon INTEGER NOT NULL,
  logoff INTEGER NOT NULL DEFAULT 0,
  bytes_in INTEGER NOT NULL DEFAULT 0,
  bytes_out INTEGER NOT NULL DEFAULT 0,
  damage_sent INTEGER NOT NULL DEFAULT 0);
CREATE INDEX sessions_by_name ON sessions(user_fold);
CREATE INDEX sessions_by_address ON sessions(address);
CREATE INDEX sessions_by_logon ON sessions(logon);
CREATE TABLE aircraft(
  session_id INTEGER NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
  aircraft BLOB NOT NULL,
  pack BLOB NOT NULL);
CREATE INDEX aircraft_by_session ON aircraft(session_id);
PRAGMA user_version = 1;
)sql",
};
static_assert(std::size(kMigrations) == kHistorySchemaVersion);

constexpr const char* kSessionColumns =
    "SELECT id, address, port, user, logon, logoff, bytes_in, bytes_out, damage_sent FROM sessions";

// Resets a cached statement when the operation is done with it, so it holds no read lock.
class Use {
public:
    explicit Use(sqlite3_stmt* s) : s(s) {}
    ~Use()
    {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* operator*() const { return s; }

private:
    sqlite3_stmt* s;
};

// Bytes as a BLOB of their exact length: an empty text is an empty BLOB, never NULL.
int BindBytes(sqlite3_stmt* s, int at, std::string_view bytes)
{
    static const char none = 0;
    return sqlite3_bind_blob64(s, at, bytes.empty() ? &none : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

std::string ColumnBytes(sqlite3_stmt* s, int at)
{
    const void* data = sqlite3_column_blob(s, at);
    const int n = sqlite3_column_bytes(s, at);
    return data && n > 0 ? std::string(static_cast<const char*>(data), static_cast<size_t>(n)) : std::string();
}

bool IsShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The smallest key greater than every key that starts with `prefix`; empty when there is none
// (a prefix of 0xFF bytes only).
std::string PrefixEnd(std::string prefix)
{
    while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xFF)
        prefix.pop_back();
    if (!prefix.empty())
        prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
    return prefix;
}

}  // namespace

std::string FoldName(std::string_view user)
{
    std::string folded(user);
    for (size_t i = 0; i < folded.size(); ++i) {
        const auto c = static_cast<unsigned char>(folded[i]);
        if (IsShiftJisLead(c))
            ++i;  // the second byte may look like an ASCII letter; it is not one
        else if (c >= 'A' && c <= 'Z')
            folded[i] = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

HistoryStore::HistoryStore(sqlite3* db) : db(db) {}

HistoryStore::~HistoryStore()
{
    for (auto& [sql, s] : statements)
        sqlite3_finalize(s);
    sqlite3_close(db);
}

Failure HistoryStore::Fail(std::string_view what) const
{
    return Failure{std::string(kHistoryFileName) + ": " + std::string(what) + ": " + sqlite3_errmsg(db)};
}

Result<std::unique_ptr<HistoryStore>> HistoryStore::Open(const std::string& path)
{
    sqlite3* db = nullptr;
    // No symbolic link: the file is the monitor's own, where the working folder says.
    const int rc = sqlite3_open_v2(path.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    std::unique_ptr<HistoryStore> store(new HistoryStore(db));
    if (rc != SQLITE_OK)
        return store->Fail("open");
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 1);
    {
        auto mode = store->Prepare("PRAGMA journal_mode=WAL");
        if (!mode)
            return Failure{mode.error()};
        Use use(*mode);
        if (sqlite3_step(*use) != SQLITE_ROW)
            return store->Fail("journal mode");
        if (ColumnBytes(*use, 0) != "wal")
            return Failure{std::string(kHistoryFileName) + ": the file cannot use a write-ahead log"};
    }
    // In WAL mode NORMAL loses no committed transaction when the process dies, only on power loss.
    if (Status s = store->Exec("PRAGMA synchronous=NORMAL"); !s)
        return Failure{s.error()};
    if (Status s = store->Migrate(); !s)
        return Failure{s.error()};
    return store;
}

Status HistoryStore::Exec(const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return Fail("write");
    return {};
}

Result<sqlite3_stmt*> HistoryStore::Prepare(const char* sql)
{
    for (auto& [text, s] : statements)
        if (text == sql)
            return s;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
        return Fail("prepare");
    statements.emplace_back(sql, s);
    return s;
}

int HistoryStore::SchemaVersion() const
{
    sqlite3_stmt* s = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        version = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return version;
}

Status HistoryStore::Migrate()
{
    const int version = SchemaVersion();
    if (version < 0)
        return Fail("read");
    if (version > kHistorySchemaVersion)
        return Failure{std::string(kHistoryFileName) + ": written by a newer program (layout " +
                       std::to_string(version) + ", this program knows " + std::to_string(kHistorySchemaVersion) +
                       ")"};
    for (int v = version; v < kHistorySchemaVersion; ++v)
        if (Status s = InTransaction([&] {
                // Another connection may have brought the file on while this one waited for it.
                return SchemaVersion() == v ? Exec(kMigrations[v]) : Status();
            });
            !s)
            return s;
    return {};
}

Status HistoryStore::InTransaction(const std::function<Status()>& work)
{
    // Inside another transaction the work is part of that one.
    if (!sqlite3_get_autocommit(db))
        return work();
    if (Status s = Exec("BEGIN IMMEDIATE"); !s)
        return s;
    Status result = work();
    if (result)
        result = Exec("COMMIT");
    if (!result)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

Result<int64_t> HistoryStore::Insert(const SessionRecord& r)
{
    auto stmt = Prepare("INSERT INTO sessions(address, port, user, user_fold, logon, logoff, bytes_in, bytes_out, "
                        "damage_sent) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!stmt)
        return Failure{stmt.error()};
    Use use(*stmt);
    sqlite3_bind_int64(*use, 1, r.address.HostOrder());
    sqlite3_bind_int(*use, 2, r.port);
    BindBytes(*use, 3, r.user);
    BindBytes(*use, 4, FoldName(r.user));
    sqlite3_bind_int64(*use, 5, r.logon);
    sqlite3_bind_int64(*use, 6, r.logoff);
    sqlite3_bind_int64(*use, 7, static_cast<int64_t>(r.bytesIn));
    sqlite3_bind_int64(*use, 8, static_cast<int64_t>(r.bytesOut));
    sqlite3_bind_int64(*use, 9, r.damageSent);
    if (sqlite3_step(*use) != SQLITE_DONE)
        return Fail("insert");
    const int64_t id = sqlite3_last_insert_rowid(db);
    for (const FlownAircraft& a : r.aircraft)
        if (Status s = AddAircraft(id, a); !s)
            return Failure{s.error()};
    return id;
}

Result<bool> HistoryStore::InsertIfAbsent(const SessionRecord& r)
{
    auto stmt = Prepare("SELECT 1 FROM sessions WHERE logon = ? AND address = ? AND port = ? AND user = ?");
    if (!stmt)
        return Failure{stmt.error()};
    {
        Use use(*stmt);
        sqlite3_bind_int64(*use, 1, r.logon);
        sqlite3_bind_int64(*use, 2, r.address.HostOrder());
        sqlite3_bind_int(*use, 3, r.port);
        BindBytes(*use, 4, r.user);
        const int rc = sqlite3_step(*use);
        if (rc == SQLITE_ROW)
            return false;
        if (rc != SQLITE_DONE)
            return Fail("read");
    }
    auto id = Insert(r);
    if (!id)
        return Failure{id.error()};
    return true;
}

Status HistoryStore::AddAircraft(int64_t session, const FlownAircraft& a)
{
    auto stmt = Prepare("INSERT INTO aircraft(session_id, aircraft, pack) VALUES(?, ?, ?)");
    if (!stmt)
        return Failure{stmt.error()};
    Use use(*stmt);
    sqlite3_bind_int64(*use, 1, session);
    BindBytes(*use, 2, a.aircraft);
    BindBytes(*use, 3, a.pack);
    if (sqlite3_step(*use) != SQLITE_DONE)
        return Fail("insert");
    return {};
}

Status HistoryStore::Close(int64_t session, int64_t logoff, uint64_t bytesIn, uint64_t bytesOut, uint32_t damageSent)
{
    auto stmt = Prepare("UPDATE sessions SET logoff = ?, bytes_in = ?, bytes_out = ?, damage_sent = ? WHERE id = ?");
    if (!stmt)
        return Failure{stmt.error()};
    Use use(*stmt);
    sqlite3_bind_int64(*use, 1, logoff);
    sqlite3_bind_int64(*use, 2, static_cast<int64_t>(bytesIn));
    sqlite3_bind_int64(*use, 3, static_cast<int64_t>(bytesOut));
    sqlite3_bind_int64(*use, 4, damageSent);
    sqlite3_bind_int64(*use, 5, session);
    if (sqlite3_step(*use) != SQLITE_DONE)
        return Fail("update");
    return {};
}

Status HistoryStore::LoadAircraft(StoredSession& s)
{
    auto stmt = Prepare("SELECT aircraft, pack FROM aircraft WHERE session_id = ? ORDER BY rowid");
    if (!stmt)
        return Failure{stmt.error()};
    Use use(*stmt);
    sqlite3_bind_int64(*use, 1, s.id);
    int rc;
    while ((rc = sqlite3_step(*use)) == SQLITE_ROW)
        s.record.aircraft.push_back({ColumnBytes(*use, 0), ColumnBytes(*use, 1)});
    return rc == SQLITE_DONE ? Status() : Status(Fail("read"));
}

Result<std::vector<StoredSession>> HistoryStore::Search(const HistoryQuery& q)
{
    // The query is put together from fixed pieces only; every value is bound. Each shape is
    // prepared once and kept (the pieces below make a few dozen shapes at most).
    std::string sql = kSessionColumns;
    std::vector<std::variant<int64_t, std::string>> values;
    const char* joiner = " WHERE ";
    auto where = [&](const char* piece) {
        sql += joiner;
        sql += piece;
        joiner = " AND ";
    };
    const std::string folded = FoldName(q.user);
    if (!folded.empty()) {
        if (q.match == HistoryQuery::NameMatch::Exact) {
            where("user_fold = ?");
            values.emplace_back(folded);
        } else if (q.match == HistoryQuery::NameMatch::Substring) {
            where("instr(user_fold, ?) > 0");
            values.emplace_back(folded);
        } else {
            where("user_fold >= ?");
            values.emplace_back(folded);
            if (std::string end = PrefixEnd(folded); !end.empty()) {
                where("user_fold < ?");
                values.emplace_back(std::move(end));
            }
        }
    }
    if (!q.mask.IsAny()) {
        const uint32_t low = q.address.HostOrder() & q.mask.HostOrder();
        where("address BETWEEN ? AND ?");
        values.emplace_back(int64_t{low});
        values.emplace_back(int64_t{low | ~q.mask.HostOrder()});
        // A mask that is not a prefix (255.0.255.0) needs its bits checked as well.
        if (!q.mask.IsPrefixMask()) {
            where("(address & ?) = ?");
            values.emplace_back(int64_t{q.mask.HostOrder()});
            values.emplace_back(int64_t{low});
        }
    }
    if (q.from != 0) {
        where("logon >= ?");
        values.emplace_back(q.from);
    }
    if (q.to != 0) {
        where("logon < ?");
        values.emplace_back(q.to);
    }
    sql += " ORDER BY logon DESC, id DESC LIMIT ?";
    values.emplace_back(int64_t{std::max(q.limit, 0)});

    // The cache is keyed by the text's address: keep one copy of each shape.
    auto known = std::find_if(shapes.begin(), shapes.end(), [&](const auto& t) { return *t == sql; });
    if (known == shapes.end())
        known = shapes.insert(shapes.end(), std::make_unique<std::string>(sql));
    auto stmt = Prepare((*known)->c_str());
    if (!stmt)
        return Failure{stmt.error()};
    std::vector<StoredSession> found;
    {
        Use use(*stmt);
        for (size_t i = 0; i < values.size(); ++i) {
            const int at = static_cast<int>(i) + 1;
            if (const auto* n = std::get_if<int64_t>(&values[i]))
                sqlite3_bind_int64(*use, at, *n);
            else
                BindBytes(*use, at, std::get<std::string>(values[i]));
        }
        int rc;
        while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
            StoredSession s;
            s.id = sqlite3_column_int64(*use, 0);
            s.record.address = Ipv4Address(static_cast<uint32_t>(sqlite3_column_int64(*use, 1)));
            s.record.port = static_cast<uint16_t>(sqlite3_column_int(*use, 2));
            s.record.user = ColumnBytes(*use, 3);
            s.record.logon = sqlite3_column_int64(*use, 4);
            s.record.logoff = sqlite3_column_int64(*use, 5);
            s.record.bytesIn = static_cast<uint64_t>(sqlite3_column_int64(*use, 6));
            s.record.bytesOut = static_cast<uint64_t>(sqlite3_column_int64(*use, 7));
            s.record.damageSent = static_cast<uint32_t>(sqlite3_column_int64(*use, 8));
            found.push_back(std::move(s));
        }
        if (rc != SQLITE_DONE)
            return Fail("search");
    }
    for (StoredSession& s : found)
        if (Status st = LoadAircraft(s); !st)
            return Failure{st.error()};
    return found;
}

Result<std::vector<SeenWith>> HistoryStore::Seen(const char* sql, std::string_view user, int64_t since)
{
    auto stmt = Prepare(sql);
    if (!stmt)
        return Failure{stmt.error()};
    Use use(*stmt);
    BindBytes(*use, 1, FoldName(user));
    sqlite3_bind_int64(*use, 2, since);
    std::vector<SeenWith> seen;
    int rc;
    while ((rc = sqlite3_step(*use)) == SQLITE_ROW)
        seen.push_back({ColumnBytes(*use, 0), Ipv4Address(static_cast<uint32_t>(sqlite3_column_int64(*use, 1))),
                        sqlite3_column_int64(*use, 2), sqlite3_column_int64(*use, 3)});
    if (rc != SQLITE_DONE)
        return Fail("search");
    return seen;
}

Result<std::vector<SeenWith>> HistoryStore::OtherNamesOf(std::string_view user)
{
    return Seen("SELECT user, address, count(*), max(logon) FROM sessions WHERE address IN "
                "(SELECT address FROM sessions WHERE user_fold = ?1) AND user_fold <> ?1 AND logon >= ?2 "
                "GROUP BY user_fold, address ORDER BY max(logon) DESC LIMIT 1000",
                user, 0);
}

Result<std::vector<SeenWith>> HistoryStore::AddressesOf(std::string_view user, int64_t since)
{
    return Seen("SELECT user, address, count(*), max(logon) FROM sessions WHERE user_fold = ?1 AND logon >= ?2 "
                "GROUP BY address ORDER BY max(logon) DESC LIMIT 1000",
                user, since);
}

Result<int64_t> HistoryStore::Prune(int64_t now, int keepDays)
{
    if (keepDays <= 0)
        return int64_t{0};
    const int64_t cutoff = now - int64_t{keepDays} * 86400;
    int64_t removed = 0;
    Status s = InTransaction([&]() -> Status {
        for (const char* sql : {"DELETE FROM aircraft WHERE session_id IN (SELECT id FROM sessions WHERE logon < ?)",
                                "DELETE FROM sessions WHERE logon < ?"}) {
            auto stmt = Prepare(sql);
            if (!stmt)
                return Failure{stmt.error()};
            Use use(*stmt);
            sqlite3_bind_int64(*use, 1, cutoff);
            if (sqlite3_step(*use) != SQLITE_DONE)
                return Fail("prune");
            removed = sqlite3_changes64(db);
        }
        return {};
    });
    if (!s)
        return Failure{s.error()};
    return removed;
}

std::optional<HistoryQuery> ParseHistorySearch(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    HistoryQuery q;
    const size_t slash = text.find('/');
    if (auto address = Ipv4Address::Parse(text.substr(0, slash))) {
        int bits = 32;
        if (slash != std::string_view::npos) {
            const std::string_view n = text.substr(slash + 1);
            auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), bits);
            if (n.empty() || error != std::errc() || end != n.data() + n.size() || bits < 1 || bits > 32)
                return std::nullopt;
        }
        q.address = *address;
        q.mask = Ipv4Address(static_cast<uint32_t>(~uint64_t{0} << (32 - bits)));
        return q;
    }
    if (text.front() == '*') {
        q.match = HistoryQuery::NameMatch::Substring;
        text.remove_prefix(1);
    }
    q.user = std::string(text);
    return q;
}

}  // namespace zpmoni
