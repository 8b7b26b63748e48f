#include "support/FaultInjectingFile.h"

namespace kstest {

template class FaultInjecting<KsIO>;
template class FaultInjecting<KsIOUnbuffered>;

void FaultPlan::Fail(FaultOp op, int nth, int errorNumber, bool keepFailing) {
    FailShort(op, nth, 0, errorNumber, keepFailing);
}

void FaultPlan::FailShort(FaultOp op, int nth, std::size_t bytes, int errorNumber,
                          bool keepFailing) {
    Counter& counter = Of(op);
    counter.nth = nth;
    counter.errorNumber = errorNumber;
    counter.keepFailing = keepFailing;
    counter.bytesFirst = bytes;
}

void FaultPlan::Reset() {
    for (Counter& counter : counters_) {
        counter = Counter();
    }
}

FaultPlan::Verdict FaultPlan::Next(FaultOp op) {
    Counter& counter = Of(op);
    ++counter.calls;
    bool fail = counter.nth > 0 && (counter.calls == counter.nth ||
                                    (counter.keepFailing && counter.calls > counter.nth));
    if (!fail) {
        return {};
    }
    ++counter.failures;
    return {true, counter.errorNumber, counter.bytesFirst};
}

std::unique_ptr<KsIOInterface> FaultInjectingFactory::Open(const char* name, int flags) {
    return std::make_unique<FaultInjectingFile>(plan_, name, flags);
}

int FaultInjectingFactory::SystemRename(const char* oldName, const char* newName) {
    FaultPlan::Verdict verdict = plan_->Next(FaultOp::kRename);
    if (verdict.fail) {
        errno = verdict.errorNumber;
        return -1;
    }
    return KsIOFactory::SystemRename(oldName, newName);
}

int FaultInjectingFactory::SystemRemove(const char* name) {
    FaultPlan::Verdict verdict = plan_->Next(FaultOp::kDelete);
    if (verdict.fail) {
        errno = verdict.errorNumber;
        return -1;
    }
    return KsIOFactory::SystemRemove(name);
}

}  // namespace kstest
