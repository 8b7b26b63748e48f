#pragma once
/// @file
/// The full-path service: the absolute form of a file name, worked out from the text and
/// the current directory alone. The file need not exist and symbolic links are not
/// followed, so two spellings of one name ("out.txt", "./sub/../out.txt") give one text.

#include <string>

/// The absolute, lexically normalised form of `path`: relative names are taken against
/// the current directory, "." and empty components vanish, ".." removes the component
/// before it (never the root), and a trailing "/" is kept. A null or empty path gives an
/// empty text; for any other path an empty result is a failure whose reason is in errno.
std::string KsFullPath(const char* path);
