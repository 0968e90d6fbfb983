// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zpmoni {

class DirectoryListing;

// zpmoni --build-packlist [--workdir DIR] [--folder SIMFOLDER] [--output FILE]: the settings
// sheet's pack list build without windows. The simulator folder and the output default to
// FolderPath and PackFile of the working folder's Zpmoni.ini; relative paths are taken from the
// working folder. Prints the build's lines to `out`; exit status 0, 1 when there is nothing to
// build from or the output cannot be used or written, 2 for a usage error.
int RunBuildPacklist(const std::vector<std::string>& args, const DirectoryListing& listing, FILE* out,
                     FILE* err);

}  // namespace zpmoni
