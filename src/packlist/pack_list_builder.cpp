// SPDX-License-Identifier: MIT
#include "packlist/pack_list_builder.h"

#include "base/ascii.h"
#include "base/text_escape.h"
#include "platform/directory_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstring>
#include <utility>

namespace zpmoni {

namespace {

enum class Refusal { kNone, kMissing, kOutside, kLink, kSpecial, kTooBig, kUnreadable, kIdentifier, kStopped };

// What the output says about a refused name; nothing for a missing file or a stopped build.
const char* Why(Refusal refusal)
{
    switch (refusal) {
    case Refusal::kOutside: return "Refused, outside the simulator folder";
    case Refusal::kLink: return "Refused, a link";
    case Refusal::kSpecial: return "Refused, not a regular file";
    case Refusal::kTooBig: return "Refused, larger than 16 MiB";
    case Refusal::kUnreadable: return "Cannot read";
    case Refusal::kIdentifier: return "Refused, unusable identifier";
    default: return nullptr;
    }
}

std::string Problem(std::string_view what, std::string_view name, int error = 0)
{
    std::string line = std::string(what) + ": " + Escaped(name);
    return error == 0 ? line : line + " (" + std::strerror(error) + ")";
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept { return std::swap(fd, other.fd), *this; }
    ~Fd() { if (fd >= 0) ::close(fd); }
    int get() const { return fd; }
    explicit operator bool() const { return fd >= 0; }

private:
    int fd;
};

// The components of a name relative to the simulator folder, "\" or "/" between them; nothing
// when it is absolute (a Windows drive too) or climbs above the folder.
std::optional<std::vector<std::string>> Below(std::string_view name)
{
    if (name.empty() || name.front() == '/' || name.front() == '\\' || (name.size() > 1 && name[1] == ':'))
        return std::nullopt;
    std::vector<std::string> parts;
    for (size_t pos = 0; pos <= name.size();) {
        const size_t end = std::min(name.find_first_of("/\\", pos), name.size());
        const std::string_view part = name.substr(pos, end - pos);
        pos = end + 1;
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
    }
    return parts;
}

// Opens a file below the folder `root` one component at a time, following no link: a link
// may lead anywhere, and a check of the whole path before the open could be raced.
Refusal OpenBelow(int root, const std::vector<std::string>& parts, Fd& file)
{
    if (parts.empty())
        return Refusal::kMissing;
    Fd dir;
    for (size_t i = 0; i < parts.size(); ++i) {
        const int at = dir ? dir.get() : root;
        const int mode = i + 1 == parts.size() ? O_NONBLOCK : O_DIRECTORY;
        Fd next(::openat(at, parts[i].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | mode));
        if (!next) {
            const int error = errno;
            struct stat st;
            // Opened as a folder, a link is "not a directory".
            if (error == ELOOP || (error == ENOTDIR && ::fstatat(at, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                   S_ISLNK(st.st_mode)))
                return Refusal::kLink;
            return error == ENOENT || error == ENOTDIR ? Refusal::kMissing : Refusal::kUnreadable;
        }
        dir = std::move(next);
    }
    file = std::move(dir);
    return Refusal::kNone;
}

// The whole of a regular file of at most the limit. A FIFO or device is never read: it could
// block for ever or never end.
Refusal ReadAll(int fd, std::string& text, std::stop_token stop)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return Refusal::kUnreadable;
    if (!S_ISREG(st.st_mode))
        return Refusal::kSpecial;
    if (static_cast<uint64_t>(st.st_size) > PackListBuilder::kFileLimit)
        return Refusal::kTooBig;
    constexpr size_t kChunk = 1 << 16;
    text.clear();
    for (;;) {
        if (stop.stop_requested())
            return Refusal::kStopped;
        const size_t have = text.size();
        // One byte beyond the limit tells a file that grew since it was measured.
        if (have > PackListBuilder::kFileLimit)
            return Refusal::kTooBig;
        text.resize(have + std::min(kChunk, PackListBuilder::kFileLimit + 1 - have));
        const ssize_t n = ::pread(fd, text.data() + have, text.size() - have, static_cast<off_t>(have));
        text.resize(have + static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0 ? Refusal::kNone : Refusal::kUnreadable;
    }
}

// Appends all of `text`; on failure the file is cut back to where it ended, so that no half
// line is left for the next build to read as an aircraft.
bool Append(int fd, std::string_view text)
{
    const off_t start = ::lseek(fd, 0, SEEK_END);
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (start >= 0 && ::ftruncate(fd, start) != 0) {
            }
            errno = error;
            return false;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// One line without its CR LF or LF, cut at `limit` characters; the rest of a longer line is
// dropped, so reading goes on with the next line.
std::string_view NextLine(std::string_view& text, size_t limit)
{
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, std::min(end, limit));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    return line;
}

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// An identifier that the pack list file would read back as something else: a pack line, or a
// name that a NUL, CR or TAB inside makes unfindable, so that it came back on every build.
bool Usable(std::string_view identifier)
{
    return !identifier.starts_with("Pack=") && std::none_of(identifier.begin(), identifier.end(), IsControl);
}

std::string WithoutControls(std::string text)
{
    std::replace_if(text.begin(), text.end(), IsControl, '_');
    return text;
}

bool IsAircraftList(std::string_view name)
{
    return name.size() >= 7 && AsciiEqualNoCase(name.substr(0, 3), "air") &&
           AsciiEqualNoCase(name.substr(name.size() - 4), ".lst");
}

std::string Join(const std::string& folder, std::string_view name)
{
    return folder.ends_with('/') ? folder + std::string(name) : folder + "/" + std::string(name);
}

}  // namespace

std::optional<std::string> IdentifierIn(std::string_view definition)
{
    while (!definition.empty()) {
        const std::string_view line = NextLine(definition, PackListBuilder::kDefinitionLineLimit);
        if (!line.starts_with("IDENTIFY"))
            continue;
        std::string_view rest = line.substr(8);
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
    return WithoutControls(std::string(name.substr(0, name.rfind('.'))));
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

// The listings only choose the letter case of each name; what is opened is decided by the
// walk below the folder's descriptor.
std::optional<std::vector<std::string>> PackListBuilder::Resolve(const std::string& folder,
                                                                 const std::vector<std::string>& parts)
{
    std::string path = folder;
    std::vector<std::string> exact;
    for (const std::string& part : parts) {
        const std::vector<std::string>* names = Listing(path);
        if (!names)
            return std::nullopt;
        auto hit = std::find(names->begin(), names->end(), part);
        if (hit == names->end()) {
            hit = std::find_if(names->begin(), names->end(),
                               [&part](const std::string& n) { return AsciiEqualNoCase(n, part); });
        }
        if (hit == names->end())
            return std::nullopt;
        exact.push_back(*hit);
        path = Join(path, *hit);
    }
    return exact;
}

std::vector<std::string> PackListBuilder::FindAircraftLists(const std::string& simFolder)
{
    listings.clear();
    std::vector<std::string> lists;
    const std::optional<std::vector<std::string>> folder = Resolve(simFolder, {"aircraft"});
    const std::vector<std::string>* names = folder ? Listing(Join(simFolder, folder->front())) : nullptr;
    if (!names)
        return lists;
    for (const std::string& name : *names) {
        if (IsAircraftList(name))
            lists.push_back(folder->front() + "/" + name);
    }
    return lists;
}

bool PackListBuilder::Build(const PackListJob& job, std::stop_token stop, PackListSink& sink)
{
    listings.clear();
    sink.Line("Scaning aircraft/air*.lst ...");
    // Opened once for the whole build: what is read first and appended to is the same file,
    // and a link put in its place is refused rather than written through.
    Fd out(::open(job.output.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
    if (!out) {
        const int error = errno;
        sink.Line(error == ELOOP ? Problem(Why(Refusal::kLink), job.output) : Problem("Cannot open", job.output, error));
        return false;
    }
    std::string text;
    // Read whole whatever comes: a stopped build is no failed one.
    if (const Refusal refusal = ReadAll(out.get(), text, {}); refusal != Refusal::kNone) {
        sink.Line(Problem(Why(refusal), job.output));
        return false;
    }
    known.Load(text);

    const Fd root(::open(job.simFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // A file is named by its path below the folder, found without regard to case.
    using Found = std::pair<Refusal, std::optional<std::vector<std::string>>>;
    auto find = [&](std::string_view name) -> Found {
        const std::optional<std::vector<std::string>> parts = Below(name);
        if (!parts)
            return {Refusal::kOutside, std::nullopt};
        std::optional<std::vector<std::string>> exact = Resolve(job.simFolder, *parts);
        return {exact && root ? Refusal::kNone : Refusal::kMissing, std::move(exact)};
    };
    auto read = [&](const std::vector<std::string>& exact, std::string& into) {
        Fd file;
        const Refusal refusal = OpenBelow(root.get(), exact, file);
        return refusal != Refusal::kNone ? refusal : ReadAll(file.get(), into, stop);
    };
    // Lists name the same definition files again and again (a hostile one, a file of 16 MiB a
    // million times): each is read once per build.
    std::map<std::vector<std::string>, std::pair<Refusal, std::optional<std::string>>> definitions;
    auto identify = [&](std::string_view name) -> std::pair<Refusal, std::optional<std::string>> {
        const Found found = find(name);
        if (found.first != Refusal::kNone)
            return {found.first, std::nullopt};
        auto [it, fresh] = definitions.try_emplace(*found.second);
        if (fresh) {
            std::string text;
            const Refusal refusal = read(*found.second, text);
            it->second = {refusal, refusal == Refusal::kNone ? IdentifierIn(text) : std::nullopt};
        }
        return it->second;
    };
    auto failed = [&] {
        sink.Line(Problem("Cannot write", job.output, errno));
        return false;
    };

    sink.Range(static_cast<int>(job.lists.size()));
    std::string list;
    for (size_t i = 0; i < job.lists.size() && !stop.stop_requested(); ++i) {
        sink.Line(Escaped(Join(job.simFolder, job.lists[i])));
        int refused = 0;
        auto report = [&](Refusal refusal, std::string_view name) {
            if (const char* why = Why(refusal); why && ++refused <= kReportLimit)
                sink.Line(Problem(why, name));
        };
        if (Found found = find(job.lists[i]);
            found.first != Refusal::kNone || (found.first = read(*found.second, list)) != Refusal::kNone) {
            report(found.first, job.lists[i]);
            continue;
        }

        std::string pack = PackNameOf(job.lists[i]);
        bool headerWritten = false;
        for (std::string_view rest = list; !rest.empty() && !stop.stop_requested();) {
            // The first word names the definition file; a word ends at a blank or a TAB.
            const std::string_view line = NextLine(rest, kListLineLimit);
            const size_t end = line.find_first_of(" \t");
            if (end == std::string_view::npos)
                continue;
            const std::string_view name = line.substr(0, end);
            const auto [refusal, identifier] = identify(name);
            if (refusal != Refusal::kNone || !identifier) {
                report(refusal, name);
                continue;
            }
            if (!Usable(*identifier)) {
                report(Refusal::kIdentifier, name);
                continue;
            }
            if (std::optional<std::string> listed = known.PackOf(*identifier)) {
                // Already listed: the new aircraft that follow join the operator's pack.
                pack = WithoutControls(std::move(*listed));
                continue;
            }
            if (!headerWritten && !Append(out.get(), "\nPack=" + pack + "\n"))
                return failed();
            headerWritten = true;
            if (!Append(out.get(), *identifier + "\n"))
                return failed();
        }
        if (refused > kReportLimit)
            sink.Line(std::to_string(refused - kReportLimit) + " more refused");
        if (!stop.stop_requested())
            sink.Progress(static_cast<int>(i + 1));
    }
    sink.Line("Done");
    return true;
}

}  // namespace zpmoni
