#pragma once
// Counts in messages: "1 record", "2 records".

#include <string>

inline std::string Counted(long long count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}
