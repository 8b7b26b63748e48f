#pragma once
/// @file
/// The header of one transaction in a table's transaction log: its state, its identity (the
/// creation time), when it ended, and the number and description its creator gave it.
///
///   Ready 'K' --Building--> Building '.' --Stabilize--> Ready
///   Ready or Building --Committing--> Committing '?' --Stabilize--> Committed 'C'
///   Ready, Committing or Committed --Rolledback--> Rolled Back 'R'
///   Committing --Failing--> Failed 'F'
/// The lower-case "examining" states may be found in a log; Stabilize leaves them.

#include <cstdint>

#include "core/KsString.h"
#include "values/KsTimestamp.h"

class KsInputStreamInterface;
class KsOutputStreamInterface;

/// The status element of one transaction of the log (see the file notes). A change that
/// its state does not allow raises KsTransactionException "Cannot begin ... when in
/// \"%s\" state".
class KsFileTransactionStatus {
public:
    /// A Ready status without number, description or times.
    KsFileTransactionStatus() = default;
    /// A Ready status of a new transaction.
    KsFileTransactionStatus(std::uint32_t number, const char* description,
                            const KsTimestamp& created);

    /// Ready to Building: actions are being added.
    void Building();
    /// Ready or Building to Committing.
    void Committing();
    /// Committing to Failed, finished at `when`.
    void Failing(const KsTimestamp& when);
    /// A quiet rollback of a transaction in a state that cannot be rolled back changes
    /// nothing and raises nothing.
    void Rolledback(const KsTimestamp& when, bool quiet);
    /// Ends a passing state: Building and Ready Examining become Ready, Committing becomes
    /// Committed (finished at `when`), an Examining state its plain one.
    void Stabilize(const KsTimestamp& when);

    /// The name of the state ("Ready", "Committing", ...).
    const char* GetStatusString() const;
    /// The status character (KsTransactionLogFormat).
    char GetStatus() const { return status_; }
    /// The creation time, which identifies the transaction.
    const KsTimestamp& GetCreated() const { return created_; }
    /// When the transaction was committed, rolled back or failed.
    const KsTimestamp& GetFinished() const { return finished_; }
    /// The caller's number.
    std::uint32_t GetNumber() const { return number_; }
    /// The caller's description; valid while the status is unchanged.
    const char* GetDescription() const { return description_.GetCString(); }

    /// Reads the element; a wrong version ("Unknown version") or status character raises
    /// KsTransactionException, a short element the stream's error.
    void Read(KsInputStreamInterface& stream);
    /// Writes the element.
    void Write(KsOutputStreamInterface& stream) const;

private:
    char status_ = 'K';
    KsTimestamp created_;
    KsTimestamp finished_;
    std::uint32_t number_ = 0;
    KsString description_;
};
