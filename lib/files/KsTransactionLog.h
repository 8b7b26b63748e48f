#pragma once
/// @file
/// The table's view of its transaction log. A table opened for writing owns one, made by
/// the installed KsTransactionSupport; the transaction layer gives it its content.

/// A table's transaction log as the table holds it: opaque here, owned by the table.
class KsTransactionLog {
public:
    /// Closes the log.
    virtual ~KsTransactionLog() = default;
    /// Whether opening the log found what a process that died while committing left (and
    /// rolled back what needed it), so that the table's indexes must be built afresh.
    virtual bool FoundCrashLeftovers() const { return false; }

protected:
    /// Made only by the transaction layer.
    KsTransactionLog() = default;
    /// @{
    /// Not copyable: a log belongs to one table.
    KsTransactionLog(const KsTransactionLog&) = delete;
    KsTransactionLog& operator=(const KsTransactionLog&) = delete;
    /// @}
};
