// SPDX-License-Identifier: MIT
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// Flushes a file or a folder to the disk; false when that failed.
using FileSync = std::function<bool(const std::string& path)>;

// Replaces the file by writing a sibling temporary file and renaming it over the old one, so a
// failure at any point leaves the old file whole; a link stays a link and the file it names is
// replaced. A file the user made read-only stays as it is. With a sync, the temporary file is on
// disk before the rename and the folder after it.
bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data, const FileSync& sync = {});
