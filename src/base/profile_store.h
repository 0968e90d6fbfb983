// SPDX-License-Identifier: MIT
#pragma once

#include "base/regular_file.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// Typed access to the program's INI file ("Zpmoni.ini").
//
// File rules:
// - Section lines are "[Name]", entry lines "Key=Value". Section and key names match without
//   regard to ASCII letter case. Lines before the first section, lines without "=" and lines
//   starting with ";" are not entries and are never touched.
// - Blanks (spaces and tabs) around section names, keys and values are ignored when reading,
//   as the Windows profile functions do; a value that should keep its outer blanks cannot be
//   stored. Written entries are "Key=Value" without blanks.
// - When a key occurs twice, its first entry in any block of the section counts, for reading and
//   for replacing; a new key goes to the end of the section's first block.
// - LF and CR LF files read alike. A write keeps every other line byte for byte, gives a new
//   or replaced line the line end the file uses (a new file uses LF) and writes the whole file
//   to a temporary file in the same folder that then replaces the old one, so a failed write
//   leaves the old file as it was. A failed write is lost and told to the failure report.
// - A file that is a link, not a regular file or larger than kSettingsFileLimit is neither read
//   (every key reads as its default) nor written; the failure report hears of it.
// - Nothing is cached: every call opens, reads or updates and closes the file, except inside a
//   Batch, whose writes replace the file once at its end.
class ProfileStore {
public:
    // Puts a written file (or its folder) on disk; false when it cannot.
    using Sync = FileSync;

    // The writes of its lifetime (batches nest; the outermost counts) go to a copy of the file
    // read at its start, which the reads inside see, and replace the file once at its end: a
    // save of many keys rewrites the file once, and fails or succeeds as a whole.
    class Batch {
    public:
        explicit Batch(ProfileStore& store) : store(store) { store.Begin(); }
        ~Batch() { store.Commit(); }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        ProfileStore& store;
    };

    // Longest text GetString returns, as with a 4096-character buffer.
    static constexpr size_t kMaxTextLength = 4095;

    ProfileStore() = default;
    explicit ProfileStore(std::string path);

    void SetPath(std::string path);
    const std::string& Path() const;
    // Called on the temporary file before it replaces the old one and on the folder after.
    void SetSync(Sync sync) { sync_ = std::move(sync); }
    // Asked before each replacement of the file: false keeps the file as it is (the caller tells
    // why), as when the working folder is no longer the one the program started in.
    void SetWriteCheck(std::function<bool()> check) { writeCheck_ = std::move(check); }
    // Hears of every write that was lost (one message per replacement that failed), and of a
    // file that cannot be read (once, until the reason changes).
    void SetFailureReport(std::function<void(std::string_view message)> report)
    {
        failureReport_ = std::move(report);
    }

    // The number at the start of the value (optional minus sign, like atoi: "12abc" is 12, "abc"
    // is 0); the default when the key is absent or its value is empty.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
    // The value, cut at kMaxTextLength characters; the default only when the key is absent.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
    // The decoded value; empty when the key is absent or empty.
    std::vector<uint8_t> GetBytes(std::string_view section, std::string_view key) const;

    void WriteInt(std::string_view section, std::string_view key, int32_t value);
    // A line break would split the entry and inject lines into the file, so the text is written
    // only up to its first CR or LF.
    void WriteString(std::string_view section, std::string_view key, std::string_view text);
    void WriteBytes(std::string_view section, std::string_view key, std::span<const uint8_t> bytes);

    // Two capital letters per byte: "A" + low 4 bits, then "A" + high 4 bits (0x3C is "MD").
    static std::string EncodeBytes(std::span<const uint8_t> bytes);
    // Inverse of EncodeBytes; a trailing odd letter is ignored.
    static std::vector<uint8_t> DecodeBytes(std::string_view text);

    void Begin();
    // Ends the innermost batch; false when the file could not be replaced.
    bool Commit();

private:
    std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;
    void WriteEntry(std::string_view section, std::string_view key, std::string_view value);
    FileContent ReadContent() const;
    bool Replace(const std::string& content);
    void ReportFailure(std::string_view message) const;

    std::string path_;
    Sync sync_;
    std::function<bool()> writeCheck_;
    std::function<void(std::string_view)> failureReport_;
    mutable std::string lastReadProblem_;
    int batchDepth_ = 0;
    FileContent batchContent_;  // not Ok when the file could not be read
    bool batchDirty_ = false;
};

}  // namespace zpmoni
