// The fault runner's failing call: every call the fakes make of the system counts here first,
// and the one whose number comes up (or, onward, every one from it on) fails with the condition
// the system would give, its text marked "[call k]" so that the log can be searched for it.
#pragma once

#include <string>
#include <system_error>
#include <vector>

namespace gor::test {

struct Faults {
    int calls = 0, failAt = 0;      // failAt 0: nothing fails; below 0: the calls are noted
    bool onward = false;            // every call from failAt on fails, not only that one
    std::string spared;             // onward, later calls on a path holding this keep working
    std::vector<std::string> seen;  // the calls noted, in order

    void Call(const char* what, const std::string& path, std::errc condition) {
        if (failAt == 0) return;
        const std::string call = "[call " + std::to_string(++calls) + "] " + what + " " + path;
        if (failAt < 0) return seen.push_back(call);
        const bool spare = !onward || (!spared.empty() && path.find(spared) != std::string::npos);
        if (calls < failAt || (calls > failAt && spare)) return;
        throw std::system_error(std::make_error_code(condition), call);
    }
};
inline Faults faults;  // shared by every fake

}  // namespace gor::test
