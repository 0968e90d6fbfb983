// SPDX-License-Identifier: MIT
#include "capture/log_files.h"

#include <ctime>

std::string FormatLocalTime(int64_t t, const char* format)
{
    std::time_t when = static_cast<std::time_t>(t);
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

DailyLog::DailyLog(std::string workdir, const Clock& clock)
    : workdir(std::move(workdir)), clock(clock)
{
}

DailyLog::~DailyLog()
{
    if (file)
        std::fclose(file);
}

void DailyLog::SetObserver(std::function<void(std::string_view)> o)
{
    std::lock_guard guard(lock);
    observer = std::move(o);
}

void DailyLog::WriteLine(std::string_view text)
{
    const int64_t now = clock.Now();
    std::time_t when = static_cast<std::time_t>(now);
    std::tm local{};
    localtime_r(&when, &local);

    // The whole date decides, not just the day of the month: after a month without a line,
    // the same day of the month would otherwise go on writing into last month's file.
    const int date = (local.tm_year * 12 + local.tm_mon) * 32 + local.tm_mday;
    std::lock_guard guard(lock);
    if (file && date != day) {
        std::fclose(file);
        file = nullptr;
    }
    // While no file is open (say the Log folder went missing), every line tries again, so a
    // passing fault does not cost the rest of the day.
    if (!file) {
        char name[64];
        std::strftime(name, sizeof name, "Log/zplog%Y%m%d.txt", &local);
        file = std::fopen((workdir + "/" + name).c_str(), "ab");
    }
    day = date;

    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::string line = std::string(stamp) + "\t";
    line.append(text);
    if (file) {
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), file);
        std::fflush(file);
        line.pop_back();
    }
    if (observer)
        observer(line);
}

ErrorLog::ErrorLog(std::string workdir, const Clock& clock)
    : workdir(std::move(workdir)), clock(clock)
{
}

void ErrorLog::SetObserver(std::function<void(std::string_view)> o)
{
    std::lock_guard guard(lock);
    observer = std::move(o);
}

void ErrorLog::Write(std::string_view message)
{
    std::string line = FormatLocalTime(clock.Now(), "%y/%m/%d %H:%M:%S") + " ";
    line.append(message);
    std::lock_guard guard(lock);
    if (FILE* f = std::fopen((workdir + "/MoniErrLog.txt").c_str(), "ab")) {
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
        line.pop_back();
    }
    if (observer)
        observer(line);
}
