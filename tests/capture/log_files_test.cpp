// SPDX-License-Identifier: MIT
#include "capture/log_files.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// 2026-12-05 23:59:59 UTC; the tests run with TZ=UTC.
constexpr int64_t kBeforeMidnight = 1796515199;

TEST(DailyLogTest, LinesChangeFileAtTheDayOfMonth)
{
    TempFolder dir;
    std::filesystem::create_directory(dir.path / "Log");
    ManualClock clock;
    clock.seconds = kBeforeMidnight;
    std::vector<std::string> seen;
    DailyLog log(dir.path.string(), clock);
    log.SetObserver([&](std::string_view line) { seen.emplace_back(line); });
    log.WriteLine("198.51.100.2\talice\tLOGIN");
    clock.seconds += 2;
    log.WriteLine("198.51.100.2\talice\tLOGOUT");
    // The same day of the next month is another day: a new file, not last month's.
    clock.seconds += 31 * 86400;
    log.WriteLine("Start server");

    EXPECT_EQ(dir.Read("Log/zplog20261205.txt"), "23:59:59\t198.51.100.2\talice\tLOGIN\n");
    EXPECT_EQ(dir.Read("Log/zplog20261206.txt"), "00:00:01\t198.51.100.2\talice\tLOGOUT\n");
    EXPECT_EQ(dir.Read("Log/zplog20270106.txt"), "00:00:01\tStart server\n");
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2], "00:00:01\tStart server");
}

TEST(DailyLogTest, LinesResumeOnceTheFolderExists)
{
    TempFolder dir;
    ManualClock clock;
    clock.seconds = kBeforeMidnight - 100;
    DailyLog log(dir.path.string(), clock);
    log.WriteLine("lost");  // no Log folder yet
    std::filesystem::create_directory(dir.path / "Log");
    clock.seconds += 1;
    log.WriteLine("kept");
    EXPECT_EQ(dir.Read("Log/zplog20261205.txt"), "23:58:20\tkept\n");
}

TEST(DailyLogTest, WritersOnSeveralThreadsNeverInterleave)
{
    TempFolder dir;
    std::filesystem::create_directory(dir.path / "Log");
    ManualClock clock;
    clock.seconds = kBeforeMidnight - 3600;
    DailyLog log(dir.path.string(), clock);
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&log, w] {
            for (int i = 0; i < 200; ++i)
                log.WriteLine(std::string(50, static_cast<char>('a' + w)));
        });
    }
    for (auto& t : writers)
        t.join();
    std::istringstream in(dir.Read("Log/zplog20261205.txt"));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 9u + 50u);
        EXPECT_EQ(line.substr(9), std::string(50, line[9]));
    }
    EXPECT_EQ(count, 800);
}

TEST(ErrorLogTest, EachMessageAppendsOneStampedLine)
{
    TempFolder dir;
    ManualClock clock;
    clock.seconds = kBeforeMidnight;
    ErrorLog log(dir.path.string(), clock);
    log.Write("Cannot get local IP address");
    log.Write("Cannot get local IP address");
    EXPECT_EQ(dir.Read("MoniErrLog.txt"),
              "26/12/05 23:59:59 Cannot get local IP address\n"
              "26/12/05 23:59:59 Cannot get local IP address\n");
    ErrorLog nowhere((dir.path / "missing").string(), clock);
    nowhere.Write("lost quietly");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "missing"));
}

}  // namespace
