// Runs one step of a procedure whose failing steps are skipped: the step's failure is
// swallowed and the procedure goes on with its next step, after the failure was told to
// whoever keeps the record of them (the launcher's log).
#pragma once

#include <exception>
#include <utility>

namespace gor::download {

// Hears of every failure a skipped step swallowed, by the step's name.
class SkippedFailures {
  public:
    virtual ~SkippedFailures() = default;
    virtual void StepFailed(const char* step, const std::exception& failure) = 0;
};

// The counterpart of a procedure-wide try/catch. Returns false when the step failed, after
// telling `record` (when there is one) which step failed and why.
// Only failures (std::exception) are skipped; anything else is not the step's failure
// (the end of the program as a test double signals it) and keeps going up.
template <class Step>
bool SkipOnFailure(SkippedFailures* record, const char* name, Step&& step) {
    try {
        std::forward<Step>(step)();
        return true;
    } catch (const std::exception& failure) {
        if (record) record->StepFailed(name, failure);
        return false;
    }
}

}  // namespace gor::download
