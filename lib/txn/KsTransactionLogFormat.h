#pragma once
/// @file
/// Layout of a table's transaction log ("<table>.klg"): list 0 of a list file (see
/// io/KsIOListFormat.h), one element per transaction, newest first, each with a sub-list of
/// its actions in the order they were added. Integers are little-endian.
///
///   status element                      action element
///   offset size field                   size field
///   0      2    version: 540            1    status: 'K' logged, 'F' failed, 'R' undone
///   2      1    status character        var  the action (type character, then its data)
///   3      4    created: day number     n+1  message of a failure, NUL-terminated
///   7      4    created: milliseconds
///   11     4    finished: day number
///   15     4    finished: milliseconds
///   19     4    number
///   23     n+1  description, NUL-terminated
///
/// Inverse file of the commits of one writable open of a table ("BC_<table>_<17 digits>.kbc"
/// beside the table, the digits the time it was made): empty before the first commit; from
/// the start of a commit to the start of the next a 16-byte header, then entries of an
/// action element holding an inverse action followed by the 64-bit offset at which the
/// entry starts, so that the file is read backwards from its end.
///
///   header: offset 0 size 8 "Inverses"; offset 8 size 4 day number and offset 12 size 4
///   milliseconds of the created timestamp of the transaction being committed
///
/// While an insert, delete or remove moves records, the newest entry is instead a copy of the
/// records it moves, followed by the offset as every entry: 1 byte 'S' (no action element
/// starts with it), 4 the first record moved, 4 the record count before the change, 4 the
/// record length, then the records' bytes. A process killed while the records move leaves
/// them torn; the next open writes the copy back and leaves the inverse before it alone. The
/// entry goes once the records have moved.

#include <cstdint>

/// Constants of the transaction log and the inverse files (see the file notes).
namespace KsTransactionLogFormat {

/// @{
/// The status element's version and fixed size; the inverse file's offset word size,
/// header marker, where the header holds the transaction's identity, and the header's size
/// (its name is in files/KsTableLeftovers.h).
inline constexpr std::uint16_t kStatusVersion = 540;
inline constexpr std::uint64_t kStatusFixedSize = 23;
inline constexpr std::uint64_t kInverseOffsetSize = 8;
inline constexpr char kInverseMarker[8] = {'I', 'n', 'v', 'e', 'r', 's', 'e', 's'};
inline constexpr std::uint64_t kInverseIdOffset = 8;
inline constexpr std::uint64_t kInverseHeaderSize = 16;
/// @}

/// @{
/// The first byte of an entry holding a copy of moved records, and the size of its fields
/// before the records' bytes.
inline constexpr char kInverseMovedMarker = 'S';
inline constexpr std::uint64_t kInverseMovedHeaderSize = 13;
/// @}

/// @{
/// Status characters of a transaction. An Examining state is its plain state while a
/// program looks the transaction over.
inline constexpr char kBuilding = '.';
inline constexpr char kReady = 'K';
inline constexpr char kReadyExamining = 'k';
inline constexpr char kCommitting = '?';
inline constexpr char kCommitted = 'C';
inline constexpr char kCommittedExamining = 'c';
inline constexpr char kRolledBack = 'R';
inline constexpr char kRolledBackExamining = 'r';
inline constexpr char kFailed = 'F';
inline constexpr char kFailedExamining = 'f';
/// @}

/// @{
/// Status characters of a logged action.
inline constexpr char kActionLogged = 'K';
inline constexpr char kActionFailed = 'F';
inline constexpr char kActionUndone = 'R';
/// @}

}  // namespace KsTransactionLogFormat
