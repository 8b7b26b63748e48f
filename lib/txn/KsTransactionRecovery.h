#pragma once
/// @file
/// Finishing commits that a crash interrupted, when a table is opened for writing. Each
/// inverse file of the table ("BC_<table>_<17 digits>.kbc" beside it) that no live opener
/// holds is looked at: when its header names a transaction still Committing, that commit
/// was cut off in the middle: its entries are applied newest first, the logged actions are
/// marked as a rollback marks them, and the transaction ends Rolled Back, after which the
/// file is deleted. When an entry cannot be applied, the recovery raises KsRollbackFailure
/// and leaves the file, and the transaction Committing, for the next open to take up: the
/// table cannot be opened for writing half restored. A file whose transaction has ended is
/// deleted. A transaction still Committing that no inverse file names had not changed the
/// table yet, and ends Rolled Back.

#include <vector>

#include "values/KsTimestamp.h"

class KsFileTransactionLog;

/// Returns the identities of the transactions rolled back.
std::vector<KsTimestamp> KsRecoverTransactions(KsFileTransactionLog& log);
