#pragma once
/// @file
/// Whether the library waits for what must survive a power failure to reach the storage
/// device: new files before they replace old ones (and their folders after), change markers,
/// and the commits of the transaction layer. On by default; one switch for the whole
/// process (KsFile::SetSyncing and KsFileTransactionLog::SetSyncing set it too). Turned off,
/// a crashed process still loses nothing; a power failure may.

namespace KsSyncPolicy {

/// Turns the waiting on or off.
void Set(bool on);
/// Whether the library waits.
bool IsOn();

}  // namespace KsSyncPolicy
