// SPDX-License-Identifier: MIT
#include "access/deny_file.h"

#include "access/deny_ruleset.h"
#include "base/clock.h"

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

constexpr std::string_view kKeys[] = {"by=", "at=", "until="};

// The text after the last '|' as terms, if it is nothing but them.
std::optional<BanTerms> ParseTerms(std::string_view text)
{
    BanTerms terms;
    bool seen[std::size(kKeys)] = {};
    bool any = false;
    while (true) {
        const size_t begin = text.find_first_not_of(' ');
        if (begin == std::string_view::npos)
            return any ? std::optional(terms) : std::nullopt;
        text.remove_prefix(begin);
        const std::string_view word = Field(text, " ");
        text.remove_prefix(word.size());
        size_t k = 0;
        while (k < std::size(kKeys) && !word.starts_with(kKeys[k]))
            ++k;
        if (k == std::size(kKeys) || seen[k])
            return std::nullopt;
        seen[k] = any = true;
        const std::string_view value = word.substr(kKeys[k].size());
        if (k == 0) {
            if (value.empty())
                return std::nullopt;
            terms.by = value;
            continue;
        }
        const std::optional<int64_t> t = ParseUtcText(value);
        if (!t)
            return std::nullopt;
        (k == 1 ? terms.at : terms.until) = *t;
    }
}

}  // namespace

std::string UtcText(int64_t t)
{
    return FormatTime(UtcTime(t), "%Y-%m-%dT%H:%M:%SZ");
}

std::optional<int64_t> ParseUtcText(std::string_view text)
{
    // Digits where the form has them, its own marks elsewhere: nothing else reads as a time.
    constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
    if (text.size() != kForm.size())
        return std::nullopt;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kForm[i] == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != kForm[i])
            return std::nullopt;
    }
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i)
            v = v * 10 + (text[i] - '0');
        return v;
    };
    std::tm t{};
    t.tm_year = number(0, 4) - 1900;
    t.tm_mon = number(5, 2) - 1;
    t.tm_mday = number(8, 2);
    t.tm_hour = number(11, 2);
    t.tm_min = number(14, 2);
    t.tm_sec = number(17, 2);
    const int64_t seconds = CivilSeconds(t);
    // A day or hour out of range would wrap into another date: only a time that reads back the same is one.
    if (seconds < 0 || UtcText(seconds) != text)
        return std::nullopt;
    return seconds;
}

BanTerms ParseComment(std::string_view comment)
{
    const size_t bar = comment.rfind('|');
    if (bar != std::string_view::npos) {
        if (std::optional<BanTerms> terms = ParseTerms(comment.substr(bar + 1))) {
            const std::string_view reason = comment.substr(0, bar);
            terms->reason = reason.substr(0, reason.find_last_not_of(kSpace) + 1);
            return *terms;
        }
    }
    return {std::string(comment), {}, 0, 0};
}

std::string FormatComment(const BanTerms& terms, size_t limit)
{
    std::string tail;
    std::string by;
    // The name is one word of printable text, bounded, with no bar to end the reason early.
    for (const char c : terms.by.substr(0, 32))
        by += (c > ' ' && c < 0x7F && c != '|') ? c : '_';
    if (!by.empty())
        tail += " by=" + by;
    if (terms.at > 0)
        tail += " at=" + UtcText(terms.at);
    if (terms.until > 0)
        tail += " until=" + UtcText(terms.until);
    std::string reason = terms.reason;
    std::replace_if(reason.begin(), reason.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    if (tail.empty()) {
        reason.resize(std::min(reason.size(), limit));
        // A user name must not read as terms that end its own ban: a bar after them undoes them.
        return ParseComment(reason).reason == reason ? reason : reason.substr(0, limit - 2) + " |";
    }
    tail = " |" + tail;
    reason.resize(std::min(reason.size(), limit > tail.size() ? limit - tail.size() : 0));
    reason.erase(reason.find_last_not_of(kSpace) + 1);
    return reason.empty() ? tail.substr(1) : reason + tail;
}

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
    const auto rest = [&line] {
        const size_t begin = line.find_first_not_of(kSpace);
        const std::string_view r = begin == std::string_view::npos ? std::string_view{} : line.substr(begin);
        return std::string(r.substr(0, r.find_last_not_of(kSpace) + 1));
    };
    if (address.find('/') != std::string_view::npos) {
        DenyEntry block{std::string(address), {}, {}};
        if (ReadBlockNotation(block)) {
            block.comment = rest();
            return block;
        }
    }
    const std::string_view mask = word();
    if (mask.empty())
        return DenyEntry{std::string(address), "255.255.255.255", {}};
    DenyEntry entry{std::string(address), std::string(mask), rest()};
    if (mask.starts_with('/'))
        (void)ReadBlockNotation(entry);
    return entry;
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
