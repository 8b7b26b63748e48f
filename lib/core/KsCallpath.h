#pragma once
/// @file
/// KsCallpath, the one-line call-path helper of every library function that can fail.

#include <utility>

#include "core/KsException.h"

/// Runs `body` and, when a KsException leaves it, adds one call-path line for the calling
/// function and throws the same object on; returns what the body returns.
///
///     return KsCallpath("Read()", "KsBlob", [&] { ... });
///
/// Other exceptions pass through untouched.
template <class Body>
inline decltype(auto) KsCallpath(const char* function, const char* className, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (KsException& error) {
        error.AddCallpath(function, className, nullptr);
        throw;
    }
}

/// As above, with a detail (for example a file name) in parentheses after the class name.
template <class Body>
inline decltype(auto) KsCallpath(const char* function, const char* className, const char* detail,
                                 Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (KsException& error) {
        error.AddCallpath(function, className, detail);
        throw;
    }
}
