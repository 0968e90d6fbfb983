// SPDX-License-Identifier: MIT
#pragma once

#include <gtest/gtest.h>

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

// A fresh folder per use, named for the running test, removed with everything in it.
class TempFolder {
public:
    TempFolder()
    {
        static int serial = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string test =
            info ? std::string(info->test_suite_name()) + "-" + info->name() : "none";
        path = std::filesystem::temp_directory_path() /
               ("zpmoni-" + test + "-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path; }
    std::string File(std::string_view name) const { return (path / name).string(); }
    std::string Write(const std::string& name, std::string_view content) const
    {
        WriteText(File(name), content);
        return File(name);
    }
    std::string Read(const std::string& name) const { return ReadText(File(name)); }

    std::filesystem::path path;
};
