// SPDX-License-Identifier: MIT
#include "access/deny_file.h"

#include <algorithm>

namespace zpmoni {

namespace deny_file {

namespace {

constexpr std::string_view kSpace = " \t\r";

// Up to the first character of `stops`: a field must not split its line or start another.
std::string_view Field(std::string_view text, std::string_view stops)
{
    return text.substr(0, text.find_first_of(stops));
}

}  // namespace

std::optional<DenyEntry> ParseLine(std::string_view line)
{
    auto word = [&line]() {
        const size_t begin = line.find_first_not_of(kSpace);
        if (begin == std::string_view::npos) {
            line = {};
            return std::string_view{};
        }
        line.remove_prefix(begin);
        const std::string_view w = Field(line, kSpace);
        line.remove_prefix(w.size());
        return w;
    };
    const std::string_view address = word();
    if (address.empty())
        return std::nullopt;
    const std::string_view mask = word();
    if (mask.empty())
        return DenyEntry{std::string(address), "255.255.255.255", {}};
    const size_t begin = line.find_first_not_of(kSpace);
    const std::string_view rest = begin == std::string_view::npos ? std::string_view{} : line.substr(begin);
    return DenyEntry{std::string(address), std::string(mask),
                     std::string(rest.substr(0, rest.find_last_not_of(kSpace) + 1))};
}

void Read(std::string_view content, DenyList& list)
{
    if (content.starts_with("\xEF\xBB\xBF"))
        content.remove_prefix(3);
    while (!content.empty()) {
        const size_t end = std::min(content.find('\n'), content.size());
        if (std::optional<DenyEntry> entry = ParseLine(content.substr(0, std::min(end, kMaxLine))))
            list.push_back(std::move(*entry));
        content.remove_prefix(std::min(end + 1, content.size()));
    }
}

std::string Format(const DenyList& list)
{
    std::string out;
    for (const DenyEntry& e : list) {
        out.append(Field(e.address, " \t\r\n")).push_back('\t');
        out.append(Field(e.mask, " \t\r\n")).push_back('\t');
        // A user name from the network may hold a line break: it must not add an entry.
        out.append(Field(e.comment, "\r\n")).push_back('\n');
    }
    return out;
}

Status Load(const std::string& path, DenyList& list)
{
    list.clear();
    const FileContent file = ReadRegularFile(path, kSettingsFileLimit);
    if (file.status == FileStatus::Ok)
        Read(file.data, list);
    // A missing file is the usual state before the first save.
    if (const std::string problem = FileProblem("read", path, {file.status, file.error}); !problem.empty())
        return Failure{problem};
    return {};
}

Status Save(const std::string& path, const DenyList& list, const FileSync& sync)
{
    const FileResult written = ReplaceRegularFile(path, Format(list), sync);
    if (written.status == FileStatus::Ok)
        return {};
    // Whatever the status, a file not written is a failure.
    const FileStatus status = written.status == FileStatus::Missing ? FileStatus::Failed : written.status;
    return Failure{FileProblem("write", path, {status, written.error})};
}

}  // namespace deny_file

}  // namespace zpmoni
