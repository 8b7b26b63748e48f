#pragma once
/// @file
/// One logged action of a transaction: the action, its status ('K' logged, 'F' failed, 'R'
/// undone) and the message of its failure. The same element, holding an inverse action,
/// makes up the entries of a commit's inverse file.

#include <memory>

#include "core/KsString.h"
#include "txn/KsRecordAction.h"

class KsFile;
class KsInputStreamInterface;
class KsOutputStreamInterface;

/// One logged action of a transaction (see the file notes); owns the action it holds.
class KsRecordActionListWrapper {
public:
    /// An empty element for reading actions of `table` back.
    explicit KsRecordActionListWrapper(KsFile& table) : table_(&table) {}
    /// A logged element holding a copy of `action`.
    /// @{
    /// A logged element holding a copy of `action`, or `action` itself. The table must
    /// outlive the element.
    KsRecordActionListWrapper(KsFile& table, const KsRecordAction& action);
    KsRecordActionListWrapper(KsFile& table, std::unique_ptr<KsRecordAction> action);
    /// @}

    /// Frees the action held and takes `action`.
    void Reset(std::unique_ptr<KsRecordAction> action);
    /// The action held (owned by the element), or null.
    KsRecordAction* GetAction() const { return action_.get(); }
    /// Gives the action up.
    std::unique_ptr<KsRecordAction> TakeAction() && { return std::move(action_); }
    /// @{
    /// The action's status character (KsTransactionLogFormat).
    char GetStatus() const { return status_; }
    void SetStatus(char status) { status_ = status; }
    /// @}
    /// @{
    /// The message of the action's failure (copied; null is the empty text).
    const char* GetText() const { return text_.GetCString(); }
    void SetText(const char* text) { text_ = text != nullptr ? text : ""; }
    /// @}

    /// Reads the element, the action through KsRecordAction's reader for the table; a
    /// damaged element raises KsException.
    void Read(KsInputStreamInterface& stream);
    /// Writes the element.
    void Write(KsOutputStreamInterface& stream) const;

private:
    KsFile* table_;
    std::unique_ptr<KsRecordAction> action_;
    char status_ = 'K';
    KsString text_;
};
