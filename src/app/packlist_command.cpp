// SPDX-License-Identifier: MIT
#include "app/packlist_command.h"

#include "base/monitor_settings.h"
#include "base/profile_store.h"
#include "base/text_escape.h"
#include "capture/known_aircraft.h"
#include "platform/directory_listing.h"
#include "ui/pack_list_builder.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

namespace {

class TerminalSink final : public PackListSink {
public:
    void Line(std::string_view text) override
    {
        // File names are not ours: nothing in them may drive the terminal.
        std::printf("%s\n", Escaped(text).c_str());
        std::fflush(stdout);
    }
};

}  // namespace

int RunBuildPacklist(const std::vector<std::string>& args)
{
    std::string workdir;
    std::optional<std::string> folder;
    std::optional<std::string> output;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--workdir" && hasValue) {
            workdir = args[++i];
        } else if (args[i] == "--folder" && hasValue) {
            folder = args[++i];
        } else if (args[i] == "--output" && hasValue) {
            output = args[++i];
        } else {
            std::fprintf(stderr, "zpmoni: unexpected argument: %s\n", Escaped(args[i]).c_str());
            return 2;
        }
    }
    std::error_code error;
    if (!workdir.empty())
        std::filesystem::current_path(workdir, error);
    if (error) {
        std::fprintf(stderr, "zpmoni: cannot use %s: %s\n", Escaped(workdir).c_str(),
                     error.message().c_str());
        return 2;
    }

    MonitorSettings settings;
    LoadSettings(ProfileStore("Zpmoni.ini"), settings);
    PackListJob job;
    job.simFolder = folder.value_or(settings.folderPath);
    job.output = output.value_or(settings.packFile);

    KnownAircraft known;
    PackListBuilder builder(SystemDirectoryListing(), known);
    job.lists = builder.FindAircraftLists(job.simFolder);
    if (job.lists.empty()) {
        std::fputs("aircraftフォルダが見つかりません\n", stderr);
        return 1;
    }
    // The build itself skips an output it cannot open; here that would be a silent failure.
    if (std::unique_ptr<FILE, int (*)(FILE*)> probe(std::fopen(job.output.c_str(), "ab"), &std::fclose);
        !probe) {
        std::fprintf(stderr, "zpmoni: cannot write %s\n", Escaped(job.output).c_str());
        return 1;
    }
    const std::atomic<int32_t> busy{1};
    TerminalSink sink;
    builder.Build(job, busy, sink);
    return 0;
}
