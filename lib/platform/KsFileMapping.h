#pragma once
/// @file
/// A regular file's bytes mapped read-only into memory, whole, so that a reader touches only
/// the pages it needs and copies nothing.
///
/// The mapping shows the file as it is: the library never cuts its own files in place (it
/// writes a new file and renames it over the old one, which leaves a mapping of the old one
/// whole), but another program that truncates a mapped file ends a reader of the lost pages
/// with SIGBUS, as with any program that maps its files.

#include <cstddef>

/// A read-only mapping of a whole regular file; movable, not copyable.
class KsFileMapping {
public:
    KsFileMapping() = default;
    KsFileMapping(KsFileMapping&& other) noexcept;
    KsFileMapping& operator=(KsFileMapping&& other) noexcept;
    KsFileMapping(const KsFileMapping&) = delete;
    KsFileMapping& operator=(const KsFileMapping&) = delete;
    ~KsFileMapping();

    /// Maps the regular file open for reading on `fd`, as large as it is now, with its pages
    /// at hand; the descriptor may be closed afterwards. False (errno set) when the file
    /// cannot be mapped: not a regular file, empty, or refused by the system. Any mapping
    /// held before is released first.
    bool Map(int fd);
    /// The first byte, null while nothing is mapped.
    const char* Data() const { return data_; }
    /// The bytes mapped.
    std::size_t Size() const { return size_; }

private:
    void Release() noexcept;

    const char* data_ = nullptr;
    std::size_t size_ = 0;
};
