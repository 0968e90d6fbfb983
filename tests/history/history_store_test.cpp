// SPDX-License-Identifier: MIT
#include "history/history_store.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

using namespace zpmoni;

namespace {

Ipv4Address A(const char* text) { return *Ipv4Address::Parse(text); }

SessionRecord Session(std::string user, const char* address, int64_t logon, std::vector<FlownAircraft> flown = {})
{
    return {A(address), 7915, std::move(user), logon, logon + 60, std::move(flown), 100, 200, 3};
}

const SessionRecord kSessions[] = {
    Session("Falcon7", "198.51.100.5", 1000, {{"F-16", "Jets"}, {"Cub", ""}}),
    Session("falcon_x", "198.51.100.6", 2000),
    Session("Eagle", "198.51.100.5", 3000),
    Session("\x83\x41", "203.0.113.9", 4000),  // Shift_JIS katakana: its second byte is 'A'
    Session("ZULU", "10.1.2.3", 5000),
    Session("\xFF", "10.1.2.4", 6000),
};

std::unique_ptr<HistoryStore> Filled(const TempFolder& dir)
{
    auto store = HistoryStore::Open(dir.File("history.db"));
    EXPECT_TRUE(store) << store.error();
    for (const SessionRecord& s : kSessions)
        EXPECT_TRUE(store.value()->Insert(s));
    return std::move(store.value());
}

std::vector<int64_t> Logons(const std::vector<StoredSession>& found)
{
    std::vector<int64_t> logons;
    for (const StoredSession& s : found)
        logons.push_back(s.record.logon);
    return logons;
}

using M = HistoryQuery::NameMatch;

TEST(HistoryStore, SearchCases)
{
    struct Case {
        HistoryQuery query;
        std::vector<int64_t> logons;
    };
    const Case cases[] = {
        {{"fal"}, {2000, 1000}},
        {{"FALCON7"}, {1000}},
        {{"LCON", M::Substring}, {2000, 1000}},
        {{"falcon", M::Exact}, {}},
        {{"eAgLe", M::Exact}, {3000}},
        {{"\x83\x61", M::Substring}, {}},
        {{"\x83\x41"}, {4000}},
        {{"\xFF"}, {6000}},
        {{"", M::Prefix, A("198.51.100.77"), A("255.255.255.0")}, {3000, 2000, 1000}},
        {{"", M::Prefix, A("198.51.100.5"), A("255.255.255.255")}, {3000, 1000}},
        {{"", M::Prefix, A("198.0.0.5"), A("255.0.0.255")}, {3000, 1000}},
        {{"", M::Prefix, {}, {}, 2000, 4000}, {3000, 2000}},
        {{"f", M::Prefix, A("198.51.100.5"), A("255.255.255.255")}, {1000}},
        {{"", M::Prefix, {}, {}, 0, 0, 2}, {6000, 5000}},
    };
    TempFolder dir;
    auto store = Filled(dir);
    for (const Case& c : cases) {
        auto found = store->Search(c.query);
        ASSERT_TRUE(found) << found.error();
        EXPECT_EQ(Logons(*found), c.logons) << c.query.user << " " << c.query.address.ToString();
    }
    // As typed in the history tab's box; nothing for text that asks for nothing sound.
    const std::pair<const char*, std::vector<int64_t>> typed[] = {
        {" Fal ", {2000, 1000}}, {"*CON", {2000, 1000}}, {"198.51.100.0/24", {3000, 2000, 1000}},
        {"198.51.100.5", {3000, 1000}}, {"10.0.0.0/8", {6000, 5000}}, {"1.2.3.4.5", {}},
    };
    for (const auto& [text, logons] : typed)
        EXPECT_EQ(Logons(store->Search(*ParseHistorySearch(text)).value()), logons) << text;
    for (const char* bad : {"", "  ", "10.0.0.0/0", "10.0.0.0/33", "10.0.0.0/", "10.0.0.0/8x"})
        EXPECT_FALSE(ParseHistorySearch(bad)) << bad;
    auto first = store->Search({"falcon7", M::Exact});
    ASSERT_TRUE(first && first->size() == 1);
    EXPECT_EQ(first->front().record, kSessions[0]);
}

TEST(HistoryStore, NamesAndAddressesSeenTogether)
{
    TempFolder dir;
    auto store = Filled(dir);
    ASSERT_TRUE(store->Insert(Session("falcon7", "198.51.100.9", 7000)));
    auto text = [](const Result<std::vector<SeenWith>>& seen) {
        std::string t;
        for (const SeenWith& s : seen.value())
            t += s.user + "@" + s.address.ToString() + " ";
        return t;
    };
    EXPECT_EQ(text(store->OtherNamesOf("FALCON7")), "Eagle@198.51.100.5 ");
    EXPECT_EQ(text(store->AddressesOf("Falcon7")), "falcon7@198.51.100.9 Falcon7@198.51.100.5 ");
    EXPECT_EQ(text(store->AddressesOf("falcon7", 5000)), "falcon7@198.51.100.9 ");
}

// Closing a session is covered through the writer (its log-offs).
TEST(HistoryStore, ImportAndPrune)
{
    TempFolder dir;
    auto store = Filled(dir);
    EXPECT_EQ(store->InsertIfAbsent(kSessions[1]).value(), false);
    EXPECT_EQ(store->InsertIfAbsent(Session("falcon_x", "198.51.100.6", 2001)).value(), true);

    EXPECT_EQ(store->Prune(86400 + 2500, 0).value(), 0);
    EXPECT_EQ(store->Prune(86400 + 2500, 1).value(), 3);
    EXPECT_EQ(Logons(store->Search({}).value()), (std::vector<int64_t>{6000, 5000, 4000, 3000}));
}

// Opening brings every older or empty file to the current layout and refuses what it cannot read.
TEST(HistoryStore, OpensOldFilesAndRefusesOthers)
{
    auto raw = [](const std::string& path, const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    };
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        bool opens;
    };
    const Case cases[] = {
        {"absent", [](const std::string&) {}, true},
        {"empty", [](const std::string& p) { WriteText(p, ""); }, true},
        {"version 0", [&](const std::string& p) { raw(p, "CREATE TABLE t(x); INSERT INTO t VALUES(1)"); }, true},
        {"newer", [&](const std::string& p) { raw(p, "PRAGMA user_version = 2"); }, false},
        {"not a database", [](const std::string& p) { WriteText(p, std::string(4096, 'x')); }, false},
        {"link", [](const std::string& p) { std::filesystem::create_symlink(p + ".real", p); }, false},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        const std::string path = dir.File("history.db");
        c.make(path);
        auto store = HistoryStore::Open(path);
        ASSERT_EQ(store.ok(), c.opens) << c.name << ": " << store.error();
        if (!store)
            continue;
        EXPECT_EQ(store.value()->SchemaVersion(), kHistorySchemaVersion) << c.name;
        ASSERT_TRUE(store.value()->Insert(kSessions[0])) << c.name;
        store.value().reset();
        auto again = HistoryStore::Open(path);
        ASSERT_TRUE(again) << c.name;
        EXPECT_EQ(again.value()->Search({}).value().size(), 1u) << c.name;
    }
}

}  // namespace
