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
    if (counter.nth == 0 || counter.calls < counter.nth ||
        (counter.calls > counter.nth && !counter.keepFailing)) {
        return {};
    }
    ++counter.failures;
    return {true, counter.errorNumber, counter.bytesFirst};
}

std::unique_ptr<KsIOInterface> FaultInjectingFactory::Open(const char* name, int flags) {
    return std::make_unique<FaultInjectingFile>(plan_, name, flags);
}

int FaultInjectingFactory::SystemRename(const char* oldName, const char* newName) {
    return PlannedCall(*plan_, FaultOp::kRename,
                       [&] { return KsIOFactory::SystemRename(oldName, newName); });
}

int FaultInjectingFactory::SystemRemove(const char* name) {
    return PlannedCall(*plan_, FaultOp::kDelete, [&] { return KsIOFactory::SystemRemove(name); });
}

}  // namespace kstest
