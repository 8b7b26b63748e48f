#pragma once
/// @file
/// Makes tables opened from now on keep transaction logs, recover interrupted commits when
/// they are opened for writing, and start transactions of this layer. A program that uses
/// transactions calls it once before opening tables; calling it again does nothing.

/// Installs the transaction services (see the file notes).
void KsInstallTransactions();
