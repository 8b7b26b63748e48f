#pragma once
/// @file
/// Finishing commits that a crash interrupted. A transaction found Committing when a table is
/// opened for writing was cut off in the middle of its commit: its inverse file
/// ("BC_<table>_<created digits>.kbc" beside the table) is applied newest entry first, the
/// logged actions are marked as a rollback marks them, and the transaction ends Rolled Back
/// (Failed when an inverse could not be applied). Without an inverse file the commit had not
/// changed the table yet. Inverse files left behind by transactions that did finish are
/// deleted.

#include <vector>

#include "values/KsTimestamp.h"

class KsFileTransactionLog;

/// Returns the identities of the transactions rolled back.
std::vector<KsTimestamp> KsRecoverTransactions(KsFileTransactionLog& log);
