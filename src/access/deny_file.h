// SPDX-License-Identifier: MIT
#pragma once

#include "access/deny_entry.h"
#include "base/regular_file.h"
#include "base/result.h"

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
