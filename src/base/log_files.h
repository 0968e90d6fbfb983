// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/write_failure_notice.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zpmoni {

// Where a daily-log line goes; the file writer, the replay and tests stand behind it.
class LineWriter {
public:
    virtual ~LineWriter() = default;
    virtual void WriteLine(std::string_view text) = 0;
    // The line of an event seen at `eventTime` (calendar seconds) but written later, as a
    // log-on held until the server answered it: stamped with the event's time where the
    // writer stamps lines.
    virtual void WriteLineAt(int64_t eventTime, std::string_view text)
    {
        (void)eventTime;
        WriteLine(text);
    }
};

// Log/zplogYYYYMMDD.txt below the working folder: one line per event, kept open, flushed per
// line, changing file at the first line of a new day. Callable from any thread. A line that
// cannot be written is told once (WriteFailureNotice); the next line tries again.
class DailyLog final : public LineWriter {
public:
    DailyLog(std::string workdir, const Clock& clock);
    ~DailyLog() override;
    DailyLog(const DailyLog&) = delete;
    DailyLog& operator=(const DailyLog&) = delete;

    void WriteLine(std::string_view text) override { WriteLineAt(clock.Now(), text); }
    void WriteLineAt(int64_t eventTime, std::string_view text) override;

    // Sees every line as written, time stamp included (for the headless run's terminal); called
    // after the log's lock is released.
    void SetObserver(std::function<void(std::string_view)> observer);
    // Further observers, each told the event's time and the line as written (time stamp
    // included), after the log's lock is released, on the writing thread. The id removes it.
    using TimedObserver = std::function<void(int64_t eventTime, std::string_view line)>;
    int AddObserver(TimedObserver observer);
    void RemoveObserver(int id);
    // Lines that could not be written in this run.
    uint64_t WriteFailures() const { return notice.Failures(); }
    // Where a failing file is told besides stderr (the error log). Set before the first line.
    void SetFailureReport(std::function<void(std::string_view)> report) { notice.SetReport(report); }
    // Asked before a file is opened: false when the working folder may no longer be written to.
    // Set before the first line; it is called under the log's lock.
    void SetFolderCheck(std::function<bool()> check) { folderCheck = std::move(check); }

private:
    std::string workdir;
    const Clock& clock;
    std::mutex lock;
    std::function<bool()> folderCheck;
    FILE* file = nullptr;
    int day = 0;  // date of the latest line, 0 before the first
    std::function<void(std::string_view)> observer;
    std::vector<std::pair<int, TimedObserver>> observers;
    int nextObserver = 1;
    WriteFailureNotice notice;
};

// A file below the working folder opened for each line, so that nothing holds it between lines;
// a line it cannot take is told once.
class PerLineFile {
public:
    void SetFailureReport(std::function<void(std::string_view)> report) { notice.SetReport(report); }
    // As DailyLog's.
    void SetFolderCheck(std::function<bool()> check) { folderCheck = std::move(check); }
    // Lines that could not be written in this run.
    uint64_t WriteFailures() const { return notice.Failures(); }

protected:
    PerLineFile(std::string workdir, const Clock& clock) : workdir(std::move(workdir)), clock(clock) {}
    // Appends the line to `name` below the working folder; `underLock` runs under the same lock.
    void Append(const std::string& name, std::string_view line, const std::function<void()>& underLock = {});

    std::string workdir;
    const Clock& clock;
    std::mutex lock;

private:
    std::function<bool()> folderCheck;
    WriteFailureNotice notice;
};

// MoniErrLog.txt in the working folder; a line it cannot take is told on stderr.
class ErrorLog : public PerLineFile {
public:
    ErrorLog(std::string workdir, const Clock& clock) : PerLineFile(std::move(workdir), clock) {}
    void Write(std::string_view message);
    // Sees every line, also one not written.
    void SetObserver(std::function<void(std::string_view)> observer);

private:
    std::function<void(std::string_view)> observer;
};

// Log/actionYYYYMMDD.txt below the working folder: one line per operator action: time, who
// ("window" for the window's menus), action, target and comment, separated by TABs, control
// bytes escaped as in the daily log.
class ActionLog : public PerLineFile {
public:
    ActionLog(std::string workdir, const Clock& clock) : PerLineFile(std::move(workdir), clock) {}
    void Write(std::string_view who, std::string_view action, std::string_view target, std::string_view comment);
};

}  // namespace zpmoni
