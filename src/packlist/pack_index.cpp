// SPDX-License-Identifier: MIT
#include "packlist/pack_index.h"

#include "base/ascii.h"

#include <algorithm>

namespace zpmoni {

namespace {

constexpr size_t kLineLimit = 63;
constexpr size_t kNameLimit = 31;

bool SameName(std::string_view a, std::string_view b)
{
    return AsciiEqualNoCase(a.substr(0, kNameLimit), b.substr(0, kNameLimit));
}

}  // namespace

FileResult PackIndex::Load(const std::string& path)
{
    if (path.empty()) {
        Parse({});
        return {FileStatus::Missing, 0};
    }
    const FileContent file = ReadRegularFile(path, kPackListLimit);
    Parse(file.status == FileStatus::Ok ? std::string_view(file.data) : std::string_view());
    return {file.status, file.error};
}

int PackIndex::Parse(std::string_view rest)
{
    packs.clear();
    aircraft.clear();
    while (!rest.empty()) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        // A line holds up to 63 characters; the rest of a longer line is dropped and the load
        // goes on with the next line.
        std::string_view view = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (view.size() <= kLineLimit && !view.empty() && view.back() == '\r')
            view.remove_suffix(1);
        view = view.substr(0, kLineLimit);
        if (view.empty())
            continue;
        if (view.starts_with("Pack=")) {
            packs.emplace_back(view.substr(5));
            continue;
        }
        std::string name(view.substr(0, kNameLimit));
        std::replace(name.begin(), name.end(), ' ', '_');
        aircraft.push_back({FixedText<32>(name), static_cast<int>(packs.size()) - 1});
    }
    return static_cast<int>(aircraft.size());
}

std::string_view PackIndex::Lookup(std::string_view name)
{
    return Find(name).value_or(std::string_view());
}

std::optional<std::string_view> PackIndex::Find(std::string_view name)
{
    auto hit = std::find_if(aircraft.begin(), aircraft.end(),
                            [name](const Aircraft& a) { return SameName(a.name.View(), name); });
    if (hit == aircraft.end())
        return std::nullopt;
    std::rotate(aircraft.begin(), hit, hit + 1);
    const Aircraft& front = aircraft.front();
    return front.pack < 0 ? std::string_view() : packs[front.pack].View();
}

}  // namespace zpmoni
