#include "platform/KsPathService.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// The current directory, or an empty text with errno set (for example when it was removed).
std::string CurrentDirectory() {
    std::unique_ptr<char, decltype(&std::free)> directory(getcwd(nullptr, 0), &std::free);
    return directory ? std::string(directory.get()) : std::string();
}

}  // namespace

std::string KsFullPath(const char* path) {
    if (path == nullptr || *path == '\0') {
        errno = EINVAL;
        return {};
    }
    std::string text;
    if (path[0] != '/') {
        text = CurrentDirectory();
        if (text.empty()) {
            return {};
        }
        text += '/';
    }
    text += path;

    std::vector<std::string_view> components;
    std::string_view rest(text);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view component = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (component.empty() || component == ".") {
            continue;
        }
        if (component == "..") {
            if (!components.empty()) {
                components.pop_back();
            }
            continue;
        }
        components.push_back(component);
    }

    std::string result;
    for (std::string_view component : components) {
        result += '/';
        result += component;
    }
    // A name that ends in a separator names a directory and keeps its separator.
    if (result.empty() || text.back() == '/') {
        result += '/';
    }
    return result;
}
