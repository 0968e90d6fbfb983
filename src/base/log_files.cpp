// SPDX-License-Identifier: MIT
#include "base/log_files.h"

#include "base/regular_file.h"
#include "base/text_escape.h"

#include <cerrno>
#include <filesystem>

namespace zpmoni {

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

int DailyLog::AddObserver(TimedObserver o)
{
    std::lock_guard guard(lock);
    observers.emplace_back(nextObserver, std::move(o));
    return nextObserver++;
}

void DailyLog::RemoveObserver(int id)
{
    std::lock_guard guard(lock);
    std::erase_if(observers, [id](const auto& o) { return o.first == id; });
}

void DailyLog::WriteLineAt(int64_t eventTime, std::string_view text)
{
    const std::tm local = clock.LocalTime(eventTime);
    // The whole date decides, not just the day of the month: after a month without a line,
    // the same day of the month would otherwise go on writing into last month's file.
    const int date = (local.tm_year * 12 + local.tm_mon) * 32 + local.tm_mday;
    const std::string name = FormatTime(local, "Log/zplog%Y%m%d.txt");
    std::string line = FormatTime(local, "%H:%M:%S") + "\t";
    line.append(text).push_back('\n');

    bool ok = false;
    int error = 0;
    std::function<void(std::string_view)> seen;
    std::vector<std::pair<int, TimedObserver>> timed;
    {
        std::lock_guard guard(lock);
        const std::string path = workdir + "/" + name;
        // A file removed while open (alone or with its folder) would swallow every later line.
        std::error_code missing;
        if (file && (date != day || !std::filesystem::exists(path, missing))) {
            std::fclose(file);
            file = nullptr;
        }
        // While no file is open every line tries again, so writing resumes once the cause is
        // gone instead of at the next day.
        errno = 0;
        if (!file && (!folderCheck || folderCheck()))
            file = OpenForAppend(workdir, name);
        day = date;
        ok = file && std::fwrite(line.data(), 1, line.size(), file) == line.size() &&
             std::fflush(file) == 0;
        if (!ok) {
            error = errno;
            if (file)
                std::fclose(file);
            file = nullptr;
        }
        seen = observer;
        timed = observers;
    }
    notice.Attempted(ok, name, error);
    line.pop_back();
    if (seen)
        seen(line);
    for (const auto& o : timed)
        o.second(eventTime, line);
}

void ErrorLog::SetObserver(std::function<void(std::string_view)> o)
{
    std::lock_guard guard(lock);
    observer = std::move(o);
}

void PerLineFile::Append(const std::string& name, std::string_view line, const std::function<void()>& underLock)
{
    bool ok = false;
    int error = 0;
    {
        std::lock_guard guard(lock);
        errno = 0;
        if (FILE* f = !folderCheck || folderCheck() ? OpenForAppend(workdir, name) : nullptr) {
            ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
            ok = std::fclose(f) == 0 && ok;
        }
        if (!ok)
            error = errno;
        if (underLock)
            underLock();
    }
    notice.Attempted(ok, name, error);
}

void ErrorLog::Write(std::string_view message)
{
    std::string line = FormatTime(clock.LocalTime(clock.Now()), "%y/%m/%d %H:%M:%S") + " ";
    line.append(message).push_back('\n');
    std::function<void(std::string_view)> seen;
    // Nowhere else to go when it fails: the terminal only.
    Append("MoniErrLog.txt", line, [&] { seen = observer; });
    line.pop_back();
    if (seen)
        seen(line);
}

void ActionLog::Write(std::string_view who, std::string_view action, std::string_view target, std::string_view comment)
{
    const std::tm local = clock.LocalTime(clock.Now());
    std::string line = FormatTime(local, "%H:%M:%S");
    // TAB is a control byte too: no field can split into two.
    for (std::string_view field : {who, action, target, comment}) {
        line += '\t';
        AppendEscaped(line, field);
    }
    line += '\n';
    Append(FormatTime(local, "Log/action%Y%m%d.txt"), line);
}

}  // namespace zpmoni
