// SPDX-License-Identifier: MIT
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class DirectoryListing;

// The aircraft a pack list file already names, loaded afresh before each build.
class AircraftIndex {
public:
    virtual ~AircraftIndex() = default;
    // Replaces the index with the file's aircraft; a missing file gives an empty index.
    virtual void Load(const std::string& path) = 0;
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
    std::vector<std::string> lists;  // full paths, as FindAircraftLists gives them
    std::string output;              // the pack list file appended to
};

// Builds the pack list from the simulator's aircraft list files: each list file contributes, as
// a section named after it, the identifiers of its aircraft that the output file does not name
// yet. The file is only ever appended to, so the operator's own edits stay.
//
// The simulator folder usually comes from Windows: paths in list files use "\" and any letter
// case, so every path component below the simulator folder is looked up without regard to case.
class PackListBuilder {
public:
    static constexpr size_t kListLineLimit = 1023;
    static constexpr size_t kDefinitionLineLimit = 255;

    PackListBuilder(const DirectoryListing& listing, AircraftIndex& known);

    // The files matching "aircraft/air*.lst" of the folder, letter case ignored, in name order;
    // empty when there are none or the folder cannot be read.
    std::vector<std::string> FindAircraftLists(const std::string& simFolder);

    // Appends to job.output. `busy` is read before each list file: when it is 0 the build ends
    // there, with its "Done" line like a complete one.
    void Build(const PackListJob& job, const std::atomic<int32_t>& busy, PackListSink& sink);

    // folder + "/" + relative ("\" or "/" between components), each component found without
    // regard to case (an exact match first); nothing when a component is missing.
    std::optional<std::string> Resolve(const std::string& folder, std::string_view relative);

private:
    const std::vector<std::string>* Listing(const std::string& folder);

    const DirectoryListing& listing;
    AircraftIndex& known;
    // Folder listings of the current build, sorted: a list file names hundreds of aircraft in
    // the same few folders.
    std::map<std::string, std::optional<std::vector<std::string>>> listings;
};

// The identifier in an aircraft definition file: the rest of its first line that starts with
// "IDENTIFY", white space trimmed, double quotes removed, blanks turned into "_". Nothing when
// the file cannot be read or has no such line, or the identifier is empty.
std::optional<std::string> ReadIdentify(const std::string& path);

// The pack a list file's aircraft go to: its file name without folder and extension.
std::string PackNameOf(std::string_view listPath);
