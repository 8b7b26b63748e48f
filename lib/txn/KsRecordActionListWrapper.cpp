#include "txn/KsRecordActionListWrapper.h"

#include "core/KsCallpath.h"
#include "io/KsStreamInterface.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

constexpr const char* kClass = "KsRecordActionListWrapper";

bool IsActionStatus(char status) {
    return status == KsTransactionLogFormat::kActionLogged ||
           status == KsTransactionLogFormat::kActionFailed ||
           status == KsTransactionLogFormat::kActionUndone;
}

}  // namespace

KsRecordActionListWrapper::KsRecordActionListWrapper(KsFile& table, const KsRecordAction& action)
    : table_(&table), action_(action.Copy()) {}

KsRecordActionListWrapper::KsRecordActionListWrapper(KsFile& table,
                                                     std::unique_ptr<KsRecordAction> action)
    : table_(&table), action_(std::move(action)) {}

void KsRecordActionListWrapper::Reset(std::unique_ptr<KsRecordAction> action) {
    KsCallpath("Reset()", kClass, [&] { action_ = std::move(action); });
}

void KsRecordActionListWrapper::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] {
        char status = 0;
        stream.Read(&status, 1, true);
        if (!IsActionStatus(status)) {
            KsException::GenerateAs<KsTransactionException>(
                "Action status character '%c' (%d) is not recognized", kClass, status, int{status});
        }
        std::unique_ptr<KsRecordAction> action = KsRecordAction::Read(*table_, stream);
        KsString text;
        stream.ReadString(text, '\0');
        status_ = status;
        action_ = std::move(action);
        // ReadString keeps the terminator.
        text_ = KsString(text.GetCString());
    });
}

void KsRecordActionListWrapper::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        if (!action_) {
            KsException::Generate("No action to write", kClass);
        }
        stream.Write(&status_, 1);
        KsRecordAction::Write(*action_, stream);
        stream.WriteString(text_.GetCString(), true);
    });
}
