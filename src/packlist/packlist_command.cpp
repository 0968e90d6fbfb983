// SPDX-License-Identifier: MIT
#include "packlist/packlist_command.h"

#include "base/monitor_settings.h"
#include "base/profile_store.h"
#include "base/text_escape.h"
#include "packlist/known_aircraft.h"
#include "packlist/pack_list_builder.h"

#include <csignal>
#include <optional>

namespace zpmoni {

namespace {

class PrintingSink final : public PackListSink {
public:
    explicit PrintingSink(FILE* out) : out(out) {}
    void Line(std::string_view text) override
    {
        // File names are not ours: nothing in them may drive a terminal.
        std::fprintf(out, "%s\n", Escaped(text).c_str());
        std::fflush(out);
    }

private:
    FILE* out;
};

std::string InFolder(const std::string& folder, const std::string& path)
{
    return path.empty() || path.front() == '/' ? path : folder + "/" + path;
}

}  // namespace

int RunBuildPacklist(const std::vector<std::string>& args, const DirectoryListing& listing, FILE* out,
                     FILE* err)
{
    std::string workdir = ".";
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
            std::fprintf(err, "zpmoni: unexpected argument: %s\n", Escaped(args[i]).c_str());
            return 2;
        }
    }

    MonitorSettings settings;
    LoadSettings(ProfileStore(workdir + "/Zpmoni.ini"), settings);
    PackListJob job;
    job.simFolder = InFolder(workdir, folder.value_or(settings.folderPath));
    job.output = InFolder(workdir, output.value_or(settings.packFile));

    KnownAircraft known;
    PackListBuilder builder(listing, known);
    job.lists = builder.FindAircraftLists(job.simFolder);
    if (job.lists.empty()) {
        std::fputs("aircraftフォルダが見つかりません\n", err);
        return 1;
    }
    // A file size limit ends the write with an error, which the build reports, rather than
    // the process.
    std::signal(SIGXFSZ, SIG_IGN);
    PrintingSink sink(out);
    return builder.Build(job, {}, sink) ? 0 : 1;
}

}  // namespace zpmoni
