// One failing platform call for the fault runner: every call a fake makes of the system counts
// here first, and the call whose number comes up (or, onward, every call from it on) fails with
// the condition the system would give, its text marked "[call k]" so the log can be searched.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace gor::test {

struct Faults {
    int calls = 0;                  // calls made so far in this run
    int failAt = 0;                 // the call that fails; 0: none
    bool onward = false;            // every call from failAt on fails, not only that one
    std::string spared;             // onward, later calls on a path containing this keep working
    std::vector<std::string> seen;  // every call of a run without failures, in order

    void Call(const char* what, const std::string& path, std::errc condition) {
        const std::string call = "[call " + std::to_string(++calls) + "] " + what + " " + path;
        if (failAt == 0) return seen.push_back(call);
        if (calls < failAt || (calls > failAt && (!onward || Spared(path)))) return;
        throw std::system_error(std::make_error_code(condition), call);
    }

  private:
    bool Spared(const std::string& path) const {
        return !spared.empty() && path.find(spared) != std::string::npos;
    }
};

// Shared by every fake; tests that do not set failAt never see a failure.
inline Faults faults;

}  // namespace gor::test
