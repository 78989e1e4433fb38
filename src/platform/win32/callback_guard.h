// The boundary between Windows callbacks and C++ exceptions. A window procedure or
// timer tick runs under system frames that an exception must not unwind through,
// so a failure there is held and rethrown once control is back in our own frames
// (after DispatchMessageW or MessageBoxW returns).
#pragma once

#include <exception>
#include <utility>

namespace gor::platform::win32 {

// Keeps `failure` until RethrowHeldFailure; when one is already held, the first wins.
void HoldFailure(std::exception_ptr failure) noexcept;

// Rethrows and clears the held failure, if any. Call only from our own frames.
void RethrowHeldFailure();

// Runs `handler` and holds whatever it throws. For use inside window procedures.
template <class Handler>
void RunGuarded(Handler&& handler) noexcept {
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        HoldFailure(std::current_exception());
    }
}

}  // namespace gor::platform::win32
