// SPDX-License-Identifier: MIT
#include "capture/pack_index.h"

#include "base/ascii.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr size_t kLineLimit = 63;
constexpr size_t kNameLimit = 31;

bool SameName(std::string_view a, std::string_view b)
{
    return AsciiEqualNoCase(a.substr(0, kNameLimit), b.substr(0, kNameLimit));
}

}  // namespace

int PackIndex::Load(const std::string& path)
{
    std::string text;
    if (!path.empty()) {
        if (std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose); file) {
            for (int c; (c = std::fgetc(file.get())) != EOF;)
                text.push_back(static_cast<char>(c));
        }
    }
    return Parse(text);
}

int PackIndex::Parse(std::string_view text)
{
    packs.clear();
    aircraft.clear();
    while (!text.empty()) {
        // A line holds up to 63 characters; the rest of a longer line is dropped so the load
        // goes on with the next line.
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view view = text.substr(0, std::min(end, kLineLimit));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (view.ends_with('\r'))
            view.remove_suffix(1);
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
