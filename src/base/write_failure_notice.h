// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace zpmoni {

// Tells that a log file cannot be written (full disk, removed folder, no rights) once, on
// stderr and to the report (the error log), and once more only after a write in between
// succeeded: a failing file neither floods the terminal and the error log nor goes unnoticed.
class WriteFailureNotice {
public:
    void SetReport(std::function<void(std::string_view message)> r) { report = std::move(r); }

    // After each attempt to write `what`; `error` is the errno of a failed one. Called outside
    // the log's own lock, since the report writes a log itself.
    void Attempted(bool ok, std::string_view what, int error)
    {
        if (!ok)
            ++failures;
        if (ok) {
            failing = false;
            return;
        }
        if (failing.exchange(true))
            return;
        std::string message = "Cannot write ";
        message.append(what);
        if (error != 0)
            message.append(": ").append(std::strerror(error));
        std::fprintf(stderr, "zpmoni: %s\n", message.c_str());
        if (report)
            report(message);
    }

    // Writes that failed in this run, each one counted (told or not).
    uint64_t Failures() const { return failures.load(std::memory_order_relaxed); }

private:
    std::atomic<bool> failing{false};
    std::atomic<uint64_t> failures{0};
    std::function<void(std::string_view)> report;
};

}  // namespace zpmoni
