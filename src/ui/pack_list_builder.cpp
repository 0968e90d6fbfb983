// SPDX-License-Identifier: MIT
#include "ui/pack_list_builder.h"

#include "base/ascii.h"
#include "platform/directory_listing.h"

#include <algorithm>
#include <memory>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Open(const std::string& path, const char* mode)
{
    return File(std::fopen(path.c_str(), mode), &std::fclose);
}

// One line without its CR LF or LF. A longer line keeps its first `limit` characters and the
// rest is dropped, so reading goes on with the next line. False at the end of the file.
bool ReadLine(std::FILE* file, std::string& line, size_t limit)
{
    line.clear();
    bool any = false;
    int c;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < limit)
            line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

bool IsAircraftList(std::string_view name)
{
    return name.size() >= 7 && AsciiEqualNoCase(name.substr(0, 3), "air") &&
           AsciiEqualNoCase(name.substr(name.size() - 4), ".lst");
}

void WriteLine(std::FILE* out, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

}  // namespace

std::optional<std::string> ReadIdentify(const std::string& path)
{
    File file = Open(path, "rb");
    if (!file)
        return std::nullopt;
    std::string line;
    while (ReadLine(file.get(), line, PackListBuilder::kDefinitionLineLimit)) {
        if (!line.starts_with("IDENTIFY"))
            continue;
        std::string_view rest = std::string_view(line).substr(8);
        constexpr std::string_view kSpace = " \t\r\n\v\f";
        const size_t first = rest.find_first_not_of(kSpace);
        rest = first == std::string_view::npos ? std::string_view()
                                               : rest.substr(first, rest.find_last_not_of(kSpace) - first + 1);
        std::string identifier;
        for (char c : rest) {
            if (c != '"')
                identifier.push_back(c == ' ' ? '_' : c);
        }
        // An empty identifier would be written as an empty line, which the file reads as no
        // aircraft at all.
        if (identifier.empty())
            return std::nullopt;
        return identifier;
    }
    return std::nullopt;
}

std::string PackNameOf(std::string_view listPath)
{
    const size_t slash = listPath.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? listPath : listPath.substr(slash + 1);
    return std::string(name.substr(0, name.rfind('.')));
}

PackListBuilder::PackListBuilder(const DirectoryListing& listing, AircraftIndex& known)
    : listing(listing), known(known)
{
}

const std::vector<std::string>* PackListBuilder::Listing(const std::string& folder)
{
    auto it = listings.find(folder);
    if (it == listings.end()) {
        std::optional<std::vector<std::string>> names = listing.Names(folder);
        if (names) {
            // Name order without regard to case, as the simulator's own system lists them.
            std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
                const int c = AsciiCompareNoCase(a, b);
                return c != 0 ? c < 0 : a < b;
            });
        }
        it = listings.emplace(folder, std::move(names)).first;
    }
    return it->second ? &*it->second : nullptr;
}

std::optional<std::string> PackListBuilder::Resolve(const std::string& folder, std::string_view relative)
{
    std::string path = folder;
    size_t pos = 0;
    while (pos <= relative.size()) {
        size_t end = relative.find_first_of("/\\", pos);
        if (end == std::string_view::npos)
            end = relative.size();
        const std::string_view part = relative.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        std::string_view name = part;
        if (part != "..") {
            const std::vector<std::string>* names = Listing(path);
            if (!names)
                return std::nullopt;
            auto hit = std::find(names->begin(), names->end(), part);
            if (hit == names->end()) {
                hit = std::find_if(names->begin(), names->end(),
                                   [part](const std::string& n) { return AsciiEqualNoCase(n, part); });
            }
            if (hit == names->end())
                return std::nullopt;
            name = *hit;
        }
        if (!path.ends_with('/'))
            path.push_back('/');
        path += name;
    }
    return path;
}

std::vector<std::string> PackListBuilder::FindAircraftLists(const std::string& simFolder)
{
    listings.clear();
    std::vector<std::string> lists;
    const std::optional<std::string> folder = Resolve(simFolder, "aircraft");
    const std::vector<std::string>* names = folder ? Listing(*folder) : nullptr;
    if (!names)
        return lists;
    for (const std::string& name : *names) {
        if (IsAircraftList(name))
            lists.push_back(*folder + "/" + name);
    }
    return lists;
}

void PackListBuilder::Build(const PackListJob& job, const std::atomic<int32_t>& busy, PackListSink& sink)
{
    listings.clear();
    known.Load(job.output);
    sink.Line("Scaning aircraft/air*.lst ...");
    sink.Range(static_cast<int>(job.lists.size()));
    for (size_t i = 0; i < job.lists.size(); ++i) {
        if (busy.load() == 0)
            break;
        const std::string& list = job.lists[i];
        File in = Open(list, "rb");
        File out = Open(job.output, "ab");
        sink.Line(list);
        if (!in)
            continue;

        std::string pack = PackNameOf(list);
        bool headerWritten = false;
        std::string line;
        while (ReadLine(in.get(), line, kListLineLimit)) {
            // The first word names the definition file; a word ends at a blank or a TAB.
            const size_t end = line.find_first_of(" \t");
            if (end == std::string::npos)
                continue;
            const std::optional<std::string> definition =
                Resolve(job.simFolder, std::string_view(line).substr(0, end));
            const std::optional<std::string> identifier =
                definition ? ReadIdentify(*definition) : std::nullopt;
            if (!identifier)
                continue;
            if (std::optional<std::string> listed = known.PackOf(*identifier)) {
                // Already listed: the new aircraft that follow join the operator's pack.
                pack = std::move(*listed);
                continue;
            }
            if (!out)
                continue;
            if (!headerWritten) {
                WriteLine(out.get(), "");
                WriteLine(out.get(), "Pack=" + pack);
                headerWritten = true;
            }
            WriteLine(out.get(), *identifier);
        }
        sink.Progress(static_cast<int>(i + 1));
    }
    sink.Line("Done");
}
