// SPDX-License-Identifier: MIT
#include "platform/directory_listing.h"

#include <dirent.h>

#include <cstring>
#include <memory>

namespace zpmoni {

namespace {

class SystemListing final : public DirectoryListing {
public:
    std::optional<std::vector<std::string>> Names(const std::string& folder) const override
    {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
        if (!dir)
            return std::nullopt;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir.get())) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        return names;
    }
};

}  // namespace

const DirectoryListing& SystemDirectoryListing()
{
    static const SystemListing listing;
    return listing;
}

}  // namespace zpmoni
