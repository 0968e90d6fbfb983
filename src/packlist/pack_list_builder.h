// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

class DirectoryListing;

// The aircraft a pack list file already names, loaded afresh before each build.
class AircraftIndex {
public:
    virtual ~AircraftIndex() = default;
    // Replaces the index with the aircraft that the text of a pack list file names.
    virtual void Load(std::string_view text) = 0;
    // The pack of a listed aircraft (empty for one listed before any pack); nothing when unlisted.
    virtual std::optional<std::string> PackOf(std::string_view identifier) = 0;
};

// Where a build reports to: its output lines and its progress, one step per list file.
class PackListSink {
public:
    virtual ~PackListSink() = default;
    virtual void Line(std::string_view text) = 0;
    virtual void Range(int /*count*/) {}
    virtual void Progress(int /*done*/) {}
};

struct PackListJob {
    std::string simFolder;
    std::vector<std::string> lists;  // below the simulator folder, as FindAircraftLists gives them
    std::string output;              // the pack list file appended to
};

// Builds the pack list from the simulator's aircraft list files: each list file contributes, as
// a section named after it, the identifiers of its aircraft that the output file does not name
// yet. The file is only ever appended to, so the operator's own edits stay.
//
// The simulator folder usually comes from Windows: paths in list files use "\" and any letter
// case, so every path component below the simulator folder is looked up without regard to case.
// Its files are not trusted (the game server may write there): nothing is read from outside
// it, no link below it is followed, only regular files of at most 16 MiB are read, and no
// identifier or pack name can add lines of its own to the output.
class PackListBuilder {
public:
    static constexpr size_t kListLineLimit = 1023;
    static constexpr size_t kDefinitionLineLimit = 255;
    static constexpr size_t kFileLimit = 16 << 20;
    // Refusals shown per list file; a hostile one could otherwise flood the output.
    static constexpr int kReportLimit = 20;

    PackListBuilder(const DirectoryListing& listing, AircraftIndex& known);

    // The files matching "aircraft/air*.lst" of the folder, letter case ignored, in name order,
    // as "aircraft/name" with the letter case they have; empty when there are none or the
    // folder cannot be read.
    std::vector<std::string> FindAircraftLists(const std::string& simFolder);

    // Appends to job.output. `stop` is looked at before each list file, each line and each
    // chunk read: once a stop is requested the build ends there, with its "Done" line like a
    // complete one. False, after a line that says why, when the output cannot be used or
    // written: nothing is then said to be done.
    bool Build(const PackListJob& job, std::stop_token stop, PackListSink& sink);

private:
    // The components below `folder` in the letter case they have there; nothing when one is
    // missing.
    std::optional<std::vector<std::string>> Resolve(const std::string& folder,
                                                    const std::vector<std::string>& parts);
    const std::vector<std::string>* Listing(const std::string& folder);

    const DirectoryListing& listing;
    AircraftIndex& known;
    // Folder listings of the current build, sorted: a list file names hundreds of aircraft in
    // the same few folders.
    std::map<std::string, std::optional<std::vector<std::string>>> listings;
};

// The identifier in the text of an aircraft definition file: the rest of its first line that
// starts with "IDENTIFY", white space trimmed, double quotes removed, blanks turned into "_".
// Nothing when there is no such line or the identifier is empty.
std::optional<std::string> IdentifierIn(std::string_view definition);

// The pack a list file's aircraft go to: its file name without folder and extension, with
// control bytes (a file name may hold a line break) turned into "_".
std::string PackNameOf(std::string_view listPath);

}  // namespace zpmoni
