#pragma once
/// @file
/// The one place where an operating-system error number becomes part of a library error.
/// Every I/O error that quotes the system's reason is raised here, from the formatted text
/// (which names the file) and the error number taken right after the failing call.

#include <string>

#include "core/KsException.h"

/// The system's text for an error number ("No such file or directory").
std::string KsSystemErrorText(int errorNumber);

/// The reason quoted when a file cannot be opened or deleted, ending in a full stop: the
/// library's own words for the causes users meet most ("No such file or directory.",
/// "Too many open files.", "Permission denied.", "Invalid access code."), the system's
/// text for every other ("Is a directory.", "File name too long.").
std::string KsOpenFailureText(int errorNumber);

/// Raises a KsException of `className` whose message is the formatted text followed by the
/// system's text for `errorNumber`.
KS_PRINTF(3, 4)
[[noreturn]] void KsThrowSystemError(int errorNumber, const char* className, const char* format,
                                     ...);
