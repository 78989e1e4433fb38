// Runs one step of a procedure whose failing steps are skipped: the step's failure is
// swallowed and the procedure goes on with its next step.
#pragma once

#include <exception>
#include <utility>

namespace gor::download {

// The counterpart of a procedure-wide try/catch. Returns false when the step failed.
// Only failures (std::exception) are skipped; anything else is not the step's failure
// (the end of the program as a test double signals it) and keeps going up.
template <class Step>
bool SkipOnFailure(Step&& step) {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace gor::download
