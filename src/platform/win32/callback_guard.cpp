// The held failure of a Windows callback (one UI thread, so one slot per thread).
#include "platform/win32/callback_guard.h"

namespace gor::platform::win32 {
namespace {
thread_local std::exception_ptr heldFailure;
}

void HoldFailure(std::exception_ptr failure) noexcept {
    if (!heldFailure) heldFailure = std::move(failure);
}

void RethrowHeldFailure() {
    if (heldFailure) {
        std::exception_ptr failure = std::move(heldFailure);
        heldFailure = nullptr;
        std::rethrow_exception(failure);
    }
}

}  // namespace gor::platform::win32
