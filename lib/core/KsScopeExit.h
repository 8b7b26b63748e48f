#pragma once
/// @file

#include <utility>

/// Runs a callable when the scope ends, unless dismissed: the cleanup of a temporary file or
/// a half-built state, written once beside what it undoes instead of in every catch block.
///
///     KsScopeExit removeTemporary([&] { KsIOInterface::Delete(temporary); });
///     ... work that may throw ...
///     removeTemporary.Dismiss();   // success: keep the file
///
/// The callable must not throw; the destructor runs it while an exception may be in flight.
/// Unnamed, the object would end at once and run the callable there: the compiler says so.
template <class Callable>
class [[nodiscard]] KsScopeExit {
public:
    /// Keeps `callable` to run when the scope ends.
    [[nodiscard]] explicit KsScopeExit(Callable callable) : callable_(std::move(callable)) {}
    KsScopeExit(const KsScopeExit&) = delete;
    KsScopeExit& operator=(const KsScopeExit&) = delete;
    ~KsScopeExit() {
        if (active_) {
            callable_();
        }
    }

    /// The scope ended well: do not run the callable.
    void Dismiss() noexcept { active_ = false; }
    /// Runs the callable now, once.
    void RunNow() {
        if (active_) {
            active_ = false;
            callable_();
        }
    }

private:
    Callable callable_;
    bool active_ = true;
};
