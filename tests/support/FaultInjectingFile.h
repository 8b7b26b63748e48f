#pragma once
// Files that fail on purpose, so that tests can drive the library's failure paths with its
// own error messages: a full disk, an I/O error or a short write on the Nth write, flush,
// truncation or close, and a failed rename or delete.
//
// The faults sit below the file classes, in the system-call hooks of KsIO and
// KsIOUnbuffered, so everything above them (buffering, messages, call paths) is the real
// code. A FaultInjectingFactory makes FaultInjectingFile objects that share its FaultPlan;
// the plan counts the calls of each kind across all of them (and their clones) and fails
// the ones it was told to:
//
//     kstest::FaultInjectingFactory factory;
//     RunTheOperation(factory);                       // clean run: count the steps
//     int writes = factory.Plan().Calls(kstest::FaultOp::kWrite);
//     for (int n = 1; n <= writes; ++n) {
//         kstest::FaultInjectingFactory failing;
//         failing.Plan().Fail(kstest::FaultOp::kWrite, n, ENOSPC);
//         EXPECT_THROW(RunTheOperation(failing), KsException);
//         ... check that nothing was lost ...
//     }
//
// A failed write writes nothing (or, with FailShort, its first bytes); a failed truncation
// leaves the size; a failed close still releases the descriptor, as the system's does; a
// failed rename or delete leaves the files as they were. The calls are made with errno set
// to the planned error, so the messages quote its text.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "io/KsIO.h"
#include "io/KsIOFactory.h"
#include "io/KsIOUnbuffered.h"

namespace kstest {

// The kinds of call a plan counts and fails.
enum class FaultOp {
    kWrite,     // a buffered file writing its buffer out while it writes, reads, seeks or
                // truncates; every Write of an unbuffered file
    kWriteTo,   // a positioned write to the file (the parts of WriteTo that bypass a buffer)
    kFlush,     // a buffered file writing its buffer out in Flush, Close or its destructor
    kTruncate,  // setting the file's size (Truncate, Truncate64)
    kClose,     // closing the descriptor (Close, Open of another file, the destructor)
    kRename,    // the system's rename in the factory's Rename and Replace
    kDelete,    // the system's unlink in the factory's Delete
};
inline constexpr int kFaultOpCount = 7;
// Planned as the error, ends the process at that call (a write first writes its planned
// first bytes) with exit status kDiedStatus: a process killed there, for crash tests.
inline constexpr int kDie = -1;
inline constexpr int kDiedStatus = 86;

class FaultPlan {
public:
    // The nth call of `op` (counted from 1 since the plan was made or Reset) fails with
    // `errorNumber`; with `keepFailing`, every later call of `op` fails too. Replaces an
    // earlier fault planned for `op`.
    void Fail(FaultOp op, int nth, int errorNumber = ENOSPC, bool keepFailing = false);
    // As Fail for kWrite, kWriteTo and kFlush, but the failing call first writes `bytes` of
    // its bytes (fewer when it has fewer).
    void FailShort(FaultOp op, int nth, std::size_t bytes, int errorNumber = ENOSPC,
                   bool keepFailing = false);
    // No faults and all counts 0.
    void Reset();
    // Calls of `op` so far, failed ones included.
    int Calls(FaultOp op) const { return Of(op).calls; }
    // Calls of `op` that were made to fail.
    int Failures(FaultOp op) const { return Of(op).failures; }

    // What one call must do; used by the fault-injecting classes.
    struct Verdict {
        bool fail = false;
        int errorNumber = 0;
        std::size_t bytesFirst = 0;  // for a failing write: bytes written before the error
    };
    // Counts a call of `op` and says whether it fails.
    Verdict Next(FaultOp op);

private:
    struct Counter {
        int calls = 0;
        int failures = 0;
        int nth = 0;  // 0: no fault planned
        int errorNumber = 0;
        bool keepFailing = false;
        std::size_t bytesFirst = 0;
    };
    Counter& Of(FaultOp op) { return counters_[static_cast<int>(op)]; }
    const Counter& Of(FaultOp op) const { return counters_[static_cast<int>(op)]; }

    Counter counters_[kFaultOpCount];
};

// A write of `count` bytes under the plan: done by `write(bytes, errorNumber)` whole, or in
// part followed by the planned error.
template <class WriteFunction>
std::int64_t PlannedWrite(FaultPlan& plan, FaultOp op, std::size_t count, int& errorNumber,
                          WriteFunction write) {
    FaultPlan::Verdict verdict = plan.Next(op);
    if (!verdict.fail) {
        return write(count, errorNumber);
    }
    std::size_t first = verdict.bytesFirst < count ? verdict.bytesFirst : count;
    std::int64_t written = first > 0 ? write(first, errorNumber) : 0;
    if (verdict.errorNumber == kDie) {
        _exit(kDiedStatus);
    }
    errorNumber = verdict.errorNumber;
    errno = verdict.errorNumber;
    return written;
}

// Runs `call` unless the plan fails this call of `op`, which then returns -1 with errno set
// to the planned error.
template <class Call>
int PlannedCall(FaultPlan& plan, FaultOp op, Call call) {
    FaultPlan::Verdict verdict = plan.Next(op);
    if (!verdict.fail) {
        return call();
    }
    if (verdict.errorNumber == kDie) {
        _exit(kDiedStatus);
    }
    errno = verdict.errorNumber;
    return -1;
}

// A file of class Base (KsIO or KsIOUnbuffered) whose system calls follow a FaultPlan.
// Clone and CreateNew make files that follow the same plan.
template <class Base>
class FaultInjecting : public Base {
public:
    explicit FaultInjecting(std::shared_ptr<FaultPlan> plan) : plan_(std::move(plan)) {}
    FaultInjecting(std::shared_ptr<FaultPlan> plan, const char* name, int flags)
        : Base(name, flags), plan_(std::move(plan)) {}
    FaultInjecting(const FaultInjecting& other) : Base(other), plan_(other.plan_) {}
    FaultInjecting& operator=(const FaultInjecting&) = delete;
    ~FaultInjecting() override {
        // The last flush and close follow the plan too.
        FlushScope scope(*this);
        this->CloseForDestruction();
    }

    std::unique_ptr<KsIOInterface> Clone() const override {
        return std::make_unique<FaultInjecting>(*this);
    }
    std::unique_ptr<KsIOInterface> CreateNew(const char* name, int flags) const override {
        return std::make_unique<FaultInjecting>(plan_, name, flags);
    }
    void Flush() override {
        FlushScope scope(*this);
        Base::Flush();
    }
    void Close() override {
        FlushScope scope(*this);
        Base::Close();
    }

    FaultPlan& Plan() { return *plan_; }

protected:
    std::int64_t SystemWrite(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                             int& errorNumber) override {
        FaultOp op = flushing_ > 0 ? FaultOp::kFlush : FaultOp::kWrite;
        return PlannedWrite(*plan_, op, count, errorNumber, [&](std::size_t n, int& e) {
            return Base::SystemWrite(fd, buffer, n, offset, e);
        });
    }
    std::int64_t SystemWriteAt(int fd, const void* buffer, std::size_t count, std::int64_t offset,
                               int& errorNumber) override {
        return PlannedWrite(
            *plan_, FaultOp::kWriteTo, count, errorNumber,
            [&](std::size_t n, int& e) { return Base::SystemWriteAt(fd, buffer, n, offset, e); });
    }
    int SystemSetSize(int fd, std::int64_t size) override {
        return PlannedCall(*plan_, FaultOp::kTruncate,
                           [&] { return Base::SystemSetSize(fd, size); });
    }
    int SystemClose(int fd) override {
        // A failed close still releases the descriptor.
        int result = Base::SystemClose(fd);
        return PlannedCall(*plan_, FaultOp::kClose, [&] { return result; });
    }

private:
    // Buffer write-outs inside it count as kFlush.
    struct FlushScope {
        explicit FlushScope(FaultInjecting& file) : file_(file) { ++file_.flushing_; }
        ~FlushScope() { --file_.flushing_; }
        FaultInjecting& file_;
    };

    std::shared_ptr<FaultPlan> plan_;
    int flushing_ = 0;
};

using FaultInjectingFile = FaultInjecting<KsIO>;
using FaultInjectingUnbufferedFile = FaultInjecting<KsIOUnbuffered>;
extern template class FaultInjecting<KsIO>;
extern template class FaultInjecting<KsIOUnbuffered>;

// Makes FaultInjectingFile objects that share its plan, and fails renames and deletes
// (Rename, Replace, Delete) by the same plan.
class FaultInjectingFactory : public KsIOFactory {
public:
    FaultInjectingFactory() : plan_(std::make_shared<FaultPlan>()) {}

    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override;

    FaultPlan& Plan() { return *plan_; }
    // The plan, for files made outside the factory (an unbuffered file, say).
    const std::shared_ptr<FaultPlan>& SharedPlan() const { return plan_; }

protected:
    int SystemRename(const char* oldName, const char* newName) override;
    int SystemRemove(const char* name) override;

private:
    std::shared_ptr<FaultPlan> plan_;
};

}  // namespace kstest
