#pragma once
// One logged action of a transaction: the action, its status ('K' logged, 'F' failed, 'R'
// undone) and the message of its failure. The same element, holding an inverse action,
// makes up the entries of a commit's inverse file.

#include <memory>

#include "core/KsString.h"
#include "txn/KsRecordAction.h"

class KsFile;
class KsInputStreamInterface;
class KsOutputStreamInterface;

class KsRecordActionListWrapper {
public:
    // An empty element for reading actions of `table` back.
    explicit KsRecordActionListWrapper(KsFile& table) : table_(&table) {}
    // A logged element holding a copy of `action`.
    KsRecordActionListWrapper(KsFile& table, const KsRecordAction& action);
    KsRecordActionListWrapper(KsFile& table, std::unique_ptr<KsRecordAction> action);

    // Frees the action held and takes `action`.
    void Reset(std::unique_ptr<KsRecordAction> action);
    KsRecordAction* GetAction() const { return action_.get(); }
    // Gives the action up.
    std::unique_ptr<KsRecordAction> TakeAction() && { return std::move(action_); }
    char GetStatus() const { return status_; }
    void SetStatus(char status) { status_ = status; }
    const char* GetText() const { return text_.GetCString(); }
    void SetText(const char* text) { text_ = text != nullptr ? text : ""; }

    void Read(KsInputStreamInterface& stream);
    void Write(KsOutputStreamInterface& stream) const;

private:
    KsFile* table_;
    std::unique_ptr<KsRecordAction> action_;
    char status_ = 'K';
    KsString text_;
};
