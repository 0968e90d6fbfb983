// SPDX-License-Identifier: MIT
#include "capture/log_files.h"


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
    const std::tm local = clock.LocalTime(clock.Now());

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
        const std::string name = FormatTime(local, "Log/zplog%Y%m%d.txt");
        file = std::fopen((workdir + "/" + name).c_str(), "ab");
    }
    day = date;

    std::string line = FormatTime(local, "%H:%M:%S") + "\t";
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
    std::string line = FormatTime(clock.LocalTime(clock.Now()), "%y/%m/%d %H:%M:%S") + " ";
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
