// SPDX-License-Identifier: MIT
#include "base/log_files.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <functional>

using namespace zpmoni;

namespace {

namespace fs = std::filesystem;

// 2026-12-05 23:59:59; ManualClock's local time is UTC.
constexpr int64_t kBeforeMidnight = 1796515199;

TEST(DailyLogTest, LinesChangeFileAtTheDate)
{
    TempFolder dir;
    fs::create_directory(dir.path / "Log");
    ManualClock clock;
    clock.seconds = kBeforeMidnight;
    std::vector<std::string> seen;
    DailyLog log(dir.path.string(), clock);
    log.SetObserver([&](std::string_view line) { seen.emplace_back(line); });
    log.WriteLine("198.51.100.2\talice\tLOGIN");
    clock.seconds += 2;
    log.WriteLine("198.51.100.2\talice\tLOGOUT");
    // A log-on held until the server answered keeps the time, and so the file, of its datagram.
    log.WriteLineAt(kBeforeMidnight, "198.51.100.3\tbob\tLOGIN");
    // The same day of the next month is another day: a new file, not last month's.
    clock.seconds += 31 * 86400;
    log.WriteLine("Start server");
    EXPECT_EQ(dir.Read("Log/zplog20261205.txt"), "23:59:59\t198.51.100.2\talice\tLOGIN\n23:59:59\t198.51.100.3\tbob\tLOGIN\n");
    EXPECT_EQ(dir.Read("Log/zplog20261206.txt"), "00:00:01\t198.51.100.2\talice\tLOGOUT\n");
    EXPECT_EQ(dir.Read("Log/zplog20270106.txt"), "00:00:01\tStart server\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"23:59:59\t198.51.100.2\talice\tLOGIN",
                                              "00:00:01\t198.51.100.2\talice\tLOGOUT",
                                              "23:59:59\t198.51.100.3\tbob\tLOGIN", "00:00:01\tStart server"}));
}

// A log that cannot be written (its folder removed while open, a full disk at the next day's
// file) is told once, on stderr and in the error log; lines after the cause is gone are written.
TEST(DailyLogTest, FailureIsToldOnceAndWritingResumes)
{
    const std::tuple<const char*, int64_t, std::function<void(const TempFolder&)>> causes[] = {
        {"folder removed", 0, [](const TempFolder& d) { fs::remove_all(d.path / "Log"); }},
        {"a link in its place", 86400, [](const TempFolder& d) { fs::create_symlink("/dev/full", d.path / "Log/zplog20261205.txt"); }},
    };
    for (const auto& [what, earlier, breakIt] : causes) {
        SCOPED_TRACE(what);
        TempFolder dir;
        fs::create_directory(dir.path / "Log");
        ManualClock clock;
        clock.seconds = kBeforeMidnight - 100 - earlier;
        DailyLog log(dir.path.string(), clock);
        ErrorLog errors(dir.path.string(), clock);
        log.SetFailureReport([&](std::string_view message) { errors.Write(message); });
        log.WriteLine("first");
        breakIt(dir);
        clock.seconds += earlier;
        errors.Write("before");
        testing::internal::CaptureStderr();
        log.WriteLine("lost");
        log.WriteLine("lost too");
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(told.rfind("zpmoni: Cannot write Log/zplog20261205.txt: ", 0), 0u) << told;
        EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1);
        EXPECT_EQ(log.WriteFailures(), 2u);  // told once, counted each time
        // Each error-log line stamped and appended.
        EXPECT_EQ(dir.Read("MoniErrLog.txt"), "26/12/05 23:58:19 before\n26/12/05 23:58:19 " + told.substr(8));
        fs::remove(dir.path / "Log/zplog20261205.txt");
        fs::create_directory(dir.path / "Log");
        log.WriteLine("kept");
        EXPECT_EQ(dir.Read("Log/zplog20261205.txt"), "23:58:19\tkept\n");
    }
}

}  // namespace
