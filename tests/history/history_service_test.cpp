// SPDX-License-Identifier: MIT
#include "history/history_service.h"

#include "support/child_process.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace zpmoni;

namespace {

using S = HistoryService;

SessionRecord Record(int64_t i)
{
    return {Ipv4Address(0xC6336400 + static_cast<uint32_t>(i % 256)), 7915, "p" + std::to_string(i), i, 0,
            {{"F-16", "Jets"}, {"Cub", ""}}};
}

// A thousand sessions a second, each with a join and a log-off 700 ms later, on a clock the
// test moves: every batch is written within the period or at the batch size, nothing is lost.
TEST(HistoryService, KeepsUpWithAThousandSessionsASecond)
{
    TempFolder dir;
    int64_t now = 0;
    S history([&] { return now; });
    ASSERT_TRUE(history.Open(dir.File("history.db")));
    int64_t lastWrite = 0;
    constexpr int64_t kSessions = 5000;
    for (now = 0; now < kSessions + 700; ++now) {
        if (now < kSessions) {
            ASSERT_TRUE(history.Push(S::Logon{static_cast<S::Key>(now), Record(now)}));
            ASSERT_TRUE(history.Push(S::Join{static_cast<S::Key>(now), {"Zero", "Props"}}));
        }
        ASSERT_TRUE(now < 700 || history.Push(S::Logoff{static_cast<S::Key>(now - 700), now, 5, 6, 7}));
        auto written = history.WriteDue();
        ASSERT_TRUE(written) << written.error();
        EXPECT_LE(*written, 500u);
        lastWrite = *written > 0 ? now : lastWrite;
        EXPECT_LE(now - lastWrite, 200) << now;
    }
    history.Stop();
    auto store = HistoryStore::Open(dir.File("history.db"));
    auto all = store.value()->Search({.limit = 2 * kSessions});
    ASSERT_EQ(all->size(), static_cast<size_t>(kSessions));
    SessionRecord expected = Record(1234);
    expected.logoff = 1934, expected.bytesIn = 5, expected.bytesOut = 6, expected.damageSent = 7;
    expected.aircraft.push_back({"Zero", "Props"});
    EXPECT_EQ(all->at(kSessions - 1 - 1234).record, expected);
}

TEST(HistoryService, FullQueueDropsAndCounts)
{
    TempFolder dir;
    S history(SteadyMs, {.queue = 10});
    ASSERT_TRUE(history.Open(dir.File("history.db")));
    for (int i = 0; i < 15; ++i)
        history.Push(S::Join{1, {}});
    EXPECT_EQ(history.Queued(), 10u);
    EXPECT_EQ(history.Dropped(), 5u);
}

// A writer killed at any moment leaves a whole file: every session with both its aircraft.
TEST(HistoryService, KilledWriterLeavesAWholeFile)
{
    TempFolder dir;
    const std::string path = dir.File("history.db");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        S history;
        if (!history.Open(path))
            _exit(1);
        history.Start();
        for (int64_t i = 0;; ++i)
            while (!history.Push(S::Logon{static_cast<S::Key>(i), Record(i)}))
                usleep(1000);
    }
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(path + "-wal"); }, std::chrono::seconds(10)));
    usleep(400000);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    auto one = [&](const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        EXPECT_EQ(sqlite3_step(s), SQLITE_ROW) << sql;
        std::string text(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
        sqlite3_finalize(s);
        return text;
    };
    EXPECT_EQ(one("PRAGMA integrity_check"), "ok");
    EXPECT_GT(std::stoll(one("SELECT count(*) FROM sessions")), 0);
    EXPECT_EQ(one("SELECT count(*) FROM sessions WHERE (SELECT count(*) FROM aircraft WHERE session_id = id) <> 2"),
              "0");
    sqlite3_close(db);
}

}  // namespace
