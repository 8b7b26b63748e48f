#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace kstest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kstest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + name);
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("cannot write " + name);
    }
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string Pattern(std::size_t count, char first) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(first + i % 23);
    }
    return bytes;
}

}  // namespace kstest
