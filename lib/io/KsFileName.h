#pragma once
/// @file

#include <string>

#include "core/KsString.h"
#include "platform/KsPathService.h"

/// How paths of one system are spelt, and how a name becomes a full path there.
struct KsPathStyle {
    /// Turns a name into its absolute form. An empty result for a non-empty name is a
    /// failure whose reason is in errno.
    using FullPathFunction = std::string (*)(const char* path);

    /// The directory separator.
    char separator;
    /// Drive letters and network prefixes exist.
    bool hasDrives;
    /// Null when names are taken as they stand.
    FullPathFunction fullPath;

    /// "/" without drives, full paths from the platform layer.
    static KsPathStyle Posix() { return {'/', false, &KsFullPath}; }
    /// "\\" with drives and network prefixes; names stand as given without `fullPath`.
    static KsPathStyle Windows(FullPathFunction fullPath = nullptr) {
        return {'\\', true, fullPath};
    }
    /// The style of the system the library runs on.
    static KsPathStyle Native() { return Posix(); }
};

/// KsFileName splits a path into drive, directory, file name and extension, lets each
/// part be replaced and rebuilds the path; the library derives companion files of a data
/// file by replacing the extension. The full path is always drive + directory + file name
/// + extension.
///
/// The splitting is pure text work for one path style: the native (POSIX) style has the
/// separator "/" and no drive; the Windows style has "\", drive letters ("E:") and network
/// prefixes ("\\\\SRV\\SHR"). Set first turns a name into its full path with the style's
/// full-path service.
class KsFileName {
public:
    /// Empty parts in the native style; Set(path) when a path is given.
    explicit KsFileName(const char* path = nullptr);
    /// Empty parts in `style`; Set(path) when a path is given.
    explicit KsFileName(KsPathStyle style, const char* path = nullptr);
    /// @{
    /// Copies the style and the four parts through the setters.
    KsFileName(const KsFileName& other);
    KsFileName& operator=(const KsFileName& other);
    /// @}
    virtual ~KsFileName() = default;

    /// Splits the full path of `path`; an empty path leaves every part empty. On failure
    /// the parts are unchanged.
    void Set(const char* path);
    /// Stores the drive; adds ":" unless it is empty, a network prefix or ends in ":".
    void SetDrive(const char* drive);
    /// Stores the directory; adds a separator unless it is empty or ends in one.
    void SetDirectory(const char* directory);
    /// Stores the file name without extension as given.
    void SetFileName(const char* name);
    /// Stores the extension; adds a leading "." unless it is empty or starts with one.
    void SetExtension(const char* extension);

    /// Rebuilds the full path from the four parts; valid until the next Get...Path call.
    const char* GetFullPath() const;
    /// File name and extension; rebuilt into the same place as the full path.
    const char* GetCompleteFileName() const;
    /// The drive with its ":" (or network prefix); empty in the POSIX style.
    const char* GetDrive() const { return drive_.GetCString(); }
    /// The directory with its trailing separator.
    const char* GetDirectory() const { return directory_.GetCString(); }
    /// The file name without its extension.
    const char* GetFileName() const { return fileName_.GetCString(); }
    /// The extension with its leading ".".
    const char* GetExtension() const { return extension_.GetCString(); }
    /// The path style the parts were split in.
    const KsPathStyle& GetStyle() const { return style_; }

    /// True for the characters that no file name may hold: < > : " / \ |
    static bool IsInvalidFileNameChar(char c);

private:
    void Copy(const KsFileName& other);

    KsPathStyle style_;
    KsString drive_;
    KsString directory_;
    KsString fileName_;
    KsString extension_;
    mutable KsString fullPath_;
};
