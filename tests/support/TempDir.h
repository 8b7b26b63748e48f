#pragma once
// A fresh temporary directory for one test, removed with everything in it afterwards.

#include <cstddef>
#include <filesystem>
#include <string>

namespace kstest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Full path of a file inside the directory.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Whole content of a file, or throws std::runtime_error.
std::string ReadWholeFile(const std::string& name);
// Replaces a file's content.
void WriteWholeFile(const std::string& name, const std::string& content);
// `count` bytes that differ from their neighbours, starting with `first`, so that a byte out
// of its place shows.
std::string Pattern(std::size_t count, char first = 'a');

}  // namespace kstest
