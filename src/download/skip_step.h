// Runs one step of a procedure whose failing steps are skipped: the step's failure is
// swallowed and the procedure goes on with its next step.
#pragma once

#include <utility>

namespace gor::download {

// The counterpart of a procedure-wide try/catch: use it where a failure must not stop the
// steps that follow (the steps after a chunk was written, the control's resize rule).
template <class Step>
void SkipOnFailure(Step&& step) noexcept {
    try {
        std::forward<Step>(step)();
    } catch (...) {
        // A skipped step changes nothing further; the caller runs its next step.
    }
}

}  // namespace gor::download
