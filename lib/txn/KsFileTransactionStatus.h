#pragma once
// The header of one transaction in a table's transaction log: its state, its identity (the
// creation time), when it ended, and the number and description its creator gave it.
//
//   Ready 'K' --Building--> Building '.' --Stabilize--> Ready
//   Ready or Building --Committing--> Committing '?' --Stabilize--> Committed 'C'
//   Ready, Committing or Committed --Rolledback--> Rolled Back 'R'
//   Committing --Failing--> Failed 'F'
// The lower-case "examining" states may be found in a log; Stabilize leaves them.

#include <cstdint>

#include "core/KsString.h"
#include "values/KsTimestamp.h"

class KsInputStreamInterface;
class KsOutputStreamInterface;

class KsFileTransactionStatus {
public:
    KsFileTransactionStatus() = default;
    KsFileTransactionStatus(std::uint32_t number, const char* description,
                            const KsTimestamp& created);

    void Building();
    void Committing();
    void Failing(const KsTimestamp& when);
    // A quiet rollback of a transaction in a state that cannot be rolled back changes
    // nothing and raises nothing.
    void Rolledback(const KsTimestamp& when, bool quiet);
    void Stabilize(const KsTimestamp& when);

    // The name of the state ("Ready", "Committing", ...).
    const char* GetStatusString() const;
    char GetStatus() const { return status_; }
    const KsTimestamp& GetCreated() const { return created_; }
    const KsTimestamp& GetFinished() const { return finished_; }
    std::uint32_t GetNumber() const { return number_; }
    const char* GetDescription() const { return description_.GetCString(); }

    void Read(KsInputStreamInterface& stream);
    void Write(KsOutputStreamInterface& stream) const;

private:
    char status_ = 'K';
    KsTimestamp created_;
    KsTimestamp finished_;
    std::uint32_t number_ = 0;
    KsString description_;
};
