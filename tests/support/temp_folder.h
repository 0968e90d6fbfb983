// SPDX-License-Identifier: MIT
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>


inline void WriteText(const std::string& path, std::string_view text)
{
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// How often `part` stands in `text`, overlaps included.
inline size_t CountOf(std::string_view text, std::string_view part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A fresh folder per use, removed with everything in it.
struct TempFolder {
    TempFolder() { std::filesystem::remove_all(path), std::filesystem::create_directories(path); }
    ~TempFolder() { std::filesystem::remove_all(path, error); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string File(std::string_view name) const { return (path / name).string(); }
    std::string Read(const std::string& name) const { return ReadText(File(name)); }
    std::string Write(const std::string& name, std::string_view content) const
    {
        WriteText(File(name), content);
        return File(name);
    }

    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("zpmoni-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    std::error_code error;
    static inline int serial = 0;
};
