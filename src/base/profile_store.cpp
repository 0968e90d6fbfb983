// SPDX-License-Identifier: MIT
#include "base/profile_store.h"

#include "base/ascii.h"

#include <limits>
#include <optional>
#include <utility>

namespace zpmoni {

namespace {

struct Line {
    std::string_view text; // without its line end
    std::string_view eol;  // "\n", "\r\n" or "" for a last line without line end
};

struct Entry {
    bool sectionFound = false;
    size_t insertAfter = 0;                       // last entry line of the section, or its header
    size_t keyLine = std::string_view::npos;      // line of the key when present
    std::string_view value;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::vector<Line> SplitLines(std::string_view content)
{
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t nl = content.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({content.substr(pos), {}});
            break;
        }
        size_t eolStart = (nl > pos && content[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({content.substr(pos, eolStart - pos), content.substr(eolStart, nl + 1 - eolStart)});
        pos = nl + 1;
    }
    return lines;
}

// The line end new lines get: the file's first one, LF for a file without any.
std::string_view FileEol(const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        if (!line.eol.empty())
            return line.eol;
    }
    return "\n";
}

// The name of a section line, or nothing when the line is not one.
std::optional<std::string_view> SectionName(std::string_view text)
{
    text = Trim(text);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    text.remove_prefix(1);
    size_t close = text.find(']');
    if (close != std::string_view::npos)
        text = text.substr(0, close);
    return Trim(text);
}

// Key and value of an entry line, or nothing for comments and other lines.
std::optional<std::pair<std::string_view, std::string_view>> SplitEntry(std::string_view text)
{
    text = Trim(text);
    if (text.empty() || text.front() == ';')
        return std::nullopt;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return std::pair{Trim(text.substr(0, eq)), Trim(text.substr(eq + 1))};
}

// The first entry of the key in any block of the section; new keys go to the first block.
Entry Find(const std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    Entry found;
    bool inSection = false;
    bool inFirstBlock = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (auto name = SectionName(lines[i].text)) {
            inSection = AsciiEqualNoCase(*name, section);
            inFirstBlock = inSection && !found.sectionFound;
            if (inFirstBlock) {
                found.sectionFound = true;
                found.insertAfter = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        auto entry = SplitEntry(lines[i].text);
        if (!entry)
            continue;
        if (inFirstBlock)
            found.insertAfter = i;
        if (AsciiEqualNoCase(entry->first, key)) {
            found.keyLine = i;
            found.value = entry->second;
            return found;
        }
    }
    return found;
}

std::optional<std::string> LookupIn(const std::string& content, std::string_view section, std::string_view key)
{
    std::vector<Line> lines = SplitLines(content);
    Entry entry = Find(lines, section, key);
    if (entry.keyLine == std::string_view::npos)
        return std::nullopt;
    return std::string(entry.value);
}

// The content with the entry set; every other line stays byte for byte.
std::string WithEntry(const std::string& content, std::string_view section, std::string_view key, std::string_view value)
{
    std::vector<Line> lines = SplitLines(content);
    std::string_view eol = FileEol(lines);
    Entry entry = Find(lines, section, key);
    auto offsetOf = [&](const Line& line) { return static_cast<size_t>(line.text.data() - content.data()); };

    std::string out;
    out.reserve(content.size() + section.size() + key.size() + value.size() + 8);
    if (entry.keyLine != std::string_view::npos) {
        const Line& line = lines[entry.keyLine];
        size_t start = offsetOf(line);
        out.append(content, 0, start);
        out.append(key).append("=").append(value);
        out.append(content, start + line.text.size());
    } else if (entry.sectionFound) {
        const Line& line = lines[entry.insertAfter];
        size_t end = offsetOf(line) + line.text.size() + line.eol.size();
        out.append(content, 0, end);
        if (line.eol.empty())
            out.append(eol);
        out.append(key).append("=").append(value).append(eol);
        out.append(content, end);
    } else {
        out = content;
        if (!lines.empty() && lines.back().eol.empty())
            out.append(eol);
        out.append("[").append(section).append("]").append(eol);
        out.append(key).append("=").append(value).append(eol);
    }
    return out;
}

} // namespace

ProfileStore::ProfileStore(std::string path) : path_(std::move(path)) {}

// The file's content, a file that does not exist as an empty one. A file that cannot be used is
// told once, not at each of the many keys read one after another.
FileContent ProfileStore::ReadContent() const
{
    FileContent file = ReadRegularFile(path_, kSettingsFileLimit);
    const std::string problem = FileProblem("read", path_, {file.status, file.error});
    if (problem != lastReadProblem_ && !problem.empty())
        ReportFailure(problem);
    lastReadProblem_ = problem;
    if (file.status == FileStatus::Missing)
        file.status = FileStatus::Ok;
    return file;
}

bool ProfileStore::Replace(const std::string& content)
{
    if (writeCheck_ && !writeCheck_())
        return false;
    const FileResult result = ReplaceRegularFile(path_, content, sync_);
    if (result.status != FileStatus::Ok)
        ReportFailure(FileProblem("write", path_, result));
    return result.status == FileStatus::Ok;
}

std::optional<std::string> ProfileStore::Lookup(std::string_view section, std::string_view key) const
{
    if (batchDepth_ > 0)
        return batchContent_.status == FileStatus::Ok ? LookupIn(batchContent_.data, section, key) : std::nullopt;
    if (path_.empty())
        return std::nullopt;
    const FileContent file = ReadContent();
    return file.status == FileStatus::Ok ? LookupIn(file.data, section, key) : std::nullopt;
}

void ProfileStore::WriteEntry(std::string_view section, std::string_view key, std::string_view value)
{
    if (path_.empty())
        return;
    if (batchDepth_ > 0) {
        // A file that could not be read is never replaced; Commit reports the lost writes.
        if (batchContent_.status == FileStatus::Ok)
            batchContent_.data = WithEntry(batchContent_.data, section, key, value);
        batchDirty_ = true;
        return;
    }
    const FileContent file = ReadContent();
    if (file.status == FileStatus::Ok)
        Replace(WithEntry(file.data, section, key, value));
    else
        ReportFailure(FileProblem("write", path_, {file.status, file.error}));
}

void ProfileStore::ReportFailure(std::string_view message) const
{
    if (failureReport_)
        failureReport_(message);
}

void ProfileStore::Begin()
{
    if (batchDepth_++ > 0)
        return;
    batchContent_ = FileContent{};
    if (!path_.empty())
        batchContent_ = ReadContent();
    batchDirty_ = false;
}

bool ProfileStore::Commit()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return true;
    const bool dirty = std::exchange(batchDirty_, false);
    const FileContent content = std::exchange(batchContent_, FileContent{});
    if (!dirty)
        return true;
    if (content.status == FileStatus::Ok)
        return Replace(content.data);
    ReportFailure(FileProblem("write", path_, {content.status, content.error}));
    return false;
}

void ProfileStore::SetPath(std::string path) { path_ = std::move(path); }

const std::string& ProfileStore::Path() const { return path_; }

int32_t ProfileStore::GetInt(std::string_view section, std::string_view key, int32_t def) const
{
    std::optional<std::string> value = Lookup(section, key);
    if (!value || value->empty())
        return def;
    std::string_view text = *value;
    bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    // Too many digits saturate rather than overflow.
    int64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + (c - '0');
        if (number > int64_t{std::numeric_limits<int32_t>::max()} + 1)
            number = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    }
    if (negative)
        number = -number;
    if (number > std::numeric_limits<int32_t>::max())
        number = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(number);
}

std::string ProfileStore::GetString(std::string_view section, std::string_view key, std::string_view def) const
{
    std::optional<std::string> value = Lookup(section, key);
    if (!value)
        return std::string(def);
    if (value->size() > kMaxTextLength)
        value->resize(kMaxTextLength);
    return std::move(*value);
}

std::vector<uint8_t> ProfileStore::GetBytes(std::string_view section, std::string_view key) const
{
    std::optional<std::string> value = Lookup(section, key);
    if (!value)
        return {};
    return DecodeBytes(*value);
}

void ProfileStore::WriteInt(std::string_view section, std::string_view key, int32_t value)
{
    WriteEntry(section, key, std::to_string(value));
}

void ProfileStore::WriteString(std::string_view section, std::string_view key, std::string_view text)
{
    WriteEntry(section, key, text.substr(0, text.find_first_of("\r\n")));
}

void ProfileStore::WriteBytes(std::string_view section, std::string_view key, std::span<const uint8_t> bytes)
{
    WriteEntry(section, key, EncodeBytes(bytes));
}

std::string ProfileStore::EncodeBytes(std::span<const uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        text.push_back(static_cast<char>('A' + (b & 0x0F)));
        text.push_back(static_cast<char>('A' + (b >> 4)));
    }
    return text;
}

std::vector<uint8_t> ProfileStore::DecodeBytes(std::string_view text)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>((text[i + 1] - 'A') * 16 + (text[i] - 'A')));
    return bytes;
}

}  // namespace zpmoni
