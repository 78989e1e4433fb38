// Runs one step of a sequence whose trap is disarmed: a failing step is skipped and the
// sequence goes on with its next one.
#pragma once

#include <exception>

namespace gor::launcher {

// The counterpart of a procedure-wide try/catch. Returns false when the step failed.
// Only failures (std::exception) are skipped; anything else is not the step's failure
// (the end of the program as a test double signals it) and keeps going up.
template <class Step>
bool SkipOnFailure(Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace gor::launcher
