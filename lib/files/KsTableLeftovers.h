#pragma once
/// @file
/// Files that a writer of a table keeps beside it while it works, and that a writer killed
/// in the middle leaves behind. `<name>` is the data file's name without folder and
/// extension:
///
///   BC_<name>_<17 digits>.kbc           the inverse file of the commits through the table's
///                                       log, locked (byte-range lock) by the log that uses it
///   <name>.<ext>.kcm<6 characters>      a change marker: a change that the log does not
///                                       cover is under way (KsFile::BeginChange)
///   <name>.<ext>.<tag><6 characters>    a new companion file being written (tags kss, ini,
///                                       kix, ksb, QJsrt; see KsReplacementFile)
///
/// Markers and new companion files are claimed by their owner (KsReplacementFile); one that
/// can be claimed, and an inverse file whose lock can be taken, belongs to a process that is
/// gone.
///
/// Change marker, little-endian:
///
///   offset 0   8 bytes  "KsChange"
///   offset 8   int32    the record count to cut the data file back to; -1 for none
///   offset 12  rest     the folder of the change's sort run files; empty for none

#include <cstdint>
#include <string>
#include <vector>

namespace KsTableLeftovers {

/// @{
/// Names of inverse files.
inline constexpr char kInversePrefix[] = "BC_";
inline constexpr char kInverseExtension[] = ".kbc";
inline constexpr std::size_t kInverseDigits = 17;
/// @}
/// The tag of change markers.
inline constexpr char kMarkerTag[] = "kcm";
/// @{
/// The change marker's layout.
inline constexpr char kMarkerMagic[8] = {'K', 's', 'C', 'h', 'a', 'n', 'g', 'e'};
inline constexpr std::size_t kMarkerSize = 12;  // without the folder
/// The longest folder a marker holds.
inline constexpr std::size_t kMarkerFolderLimit = 4096;
inline constexpr std::size_t kMarkerKeepOffset = 8;
/// @}

/// The tags of new companion files that replace a table's files.
std::vector<std::string> TemporaryTags();

/// The name of the inverse file of the table whose data file is `dataFile`, made at the
/// time whose 17 digits are `digits`.
std::string InverseFileName(const char* dataFile, const char* digits);

/// The files shaped like the leftovers of the table whose data file is `dataFile`, by kind,
/// with their folders; nothing is opened.
struct Found {
    std::vector<std::string> inverseFiles;  ///< BC_ files
    std::vector<std::string> markers;       ///< change markers
    std::vector<std::string> temporaries;   ///< new companion files
    /// Whether any was found.
    bool Any() const { return !inverseFiles.empty() || !markers.empty() || !temporaries.empty(); }
};
Found Scan(const char* dataFile);

}  // namespace KsTableLeftovers
