// SPDX-License-Identifier: MIT
#include "base/file_replace.h"

#include <atomic>
#include <chrono>
#include <fstream>

namespace fs = std::filesystem;

bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data, const FileSync& sync)
{
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        fs::path resolved = fs::weakly_canonical(path, ec);
        if (ec)
            return false;
        target = resolved;
    }
    bool exists = fs::exists(target, ec);
    if (ec)
        return false;
    if (exists) {
        std::ofstream probe(target, std::ios::binary | std::ios::app);
        if (!probe)
            return false;
    }

    static std::atomic<unsigned> serial{0};
    fs::path temp = target;
    temp += ".tmp" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
            std::to_string(serial.fetch_add(1));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.close();
        // On disk before it takes the old file's name: a crash then leaves the old file or the
        // new one, never an empty one.
        if (!out || (sync && !sync(temp.string()))) {
            fs::remove(temp, ec);
            return false;
        }
    }
    if (exists)
        fs::permissions(temp, fs::status(target, ec).permissions(), ec);
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    // The rename itself lives in the folder.
    return !sync || sync(target.parent_path().empty() ? std::string(".") : target.parent_path().string());
}

