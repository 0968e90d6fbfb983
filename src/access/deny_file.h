// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "base/regular_file.h"
#include "base/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// The deny list file "ipfilter.txt": one entry a line, written as address, TAB, mask, TAB,
// comment. A line is read as white-space separated words (blanks, TABs, CR): the address, the
// mask ("255.255.255.255" when missing) and, as the comment, the rest of the line with the
// white space around it removed, so a comment of several words comes back whole. An empty or
// blank line is skipped; texts are otherwise taken as they stand, valid dotted text or not. A
// UTF-8 byte-order mark before the first line, as Windows editors write one, is not part of it.
namespace deny_file {

// Longer lines are cut here and reading goes on with the next line.
constexpr size_t kMaxLine = 255;

// What a ban says beyond its block, kept at the end of the comment so that a reader that knows
// nothing of it keeps the ban (forever) and writes it back as it was:
//   <reason> | by=<who> at=<UTC time> until=<UTC time>
// times as 2026-12-07T23:00:00Z, each key at most once, in any order, all optional. Only a text
// after the last '|' made of such words alone is read so; any other comment is all reason.
struct BanTerms {
    std::string reason{};
    std::string by{};      // who banned: "window", the console...; empty when not known
    int64_t at = 0;        // when, seconds since 1970; 0 when not known
    int64_t until = 0;     // when the ban ends; 0 for never

    bool operator==(const BanTerms&) const = default;
};
BanTerms ParseComment(std::string_view comment);
// The comment for these terms, at most `limit` bytes: the reason is shortened (and its line
// breaks made blanks) so that the terms always fit on the line whole. A reason alone that would
// read as terms gets a " |" after it, so that it reads as all reason.
std::string FormatComment(const BanTerms& terms, size_t limit = kMaxLine - 32);
// "2026-12-07T23:00:00Z" and back; nothing for any other text.
std::string UtcText(int64_t t);
std::optional<int64_t> ParseUtcText(std::string_view text);

// A line is read as above; an address written as a block "a.b.c.d/N" takes no mask word after
// it (the rest is the comment) and is read as address and dotted mask, as it is written back.
std::optional<DenyEntry> ParseLine(std::string_view line);
// Appends the entries of every line of the file's content.
void Read(std::string_view content, DenyList& list);
std::string Format(const DenyList& list);

// Empties the list, then reads the file: a regular file of at most kSettingsFileLimit bytes,
// else none of it ("Cannot read <path>: too large"). A missing file is an empty list.
Status Load(const std::string& path, DenyList& list);
// Writes a temporary file beside `path` and renames it over, so the file is always either the
// old one or the new one whole; a failure ("Cannot write <path>: <cause>") leaves the old file
// as it was.
Status Save(const std::string& path, const DenyList& list, const FileSync& sync = {});

}  // namespace deny_file

}  // namespace zpmoni
