// The waiting rule for files another program holds for a moment (an updater still closing, a
// virus scanner or indexer reading a file just written, a sync client): which failures pass by
// themselves, and how long the launcher waits for them.
#pragma once

#include <functional>
#include <string>
#include <system_error>

namespace gor::launcher {

// Pauses between tries grow from the first to the longest; all pauses of one step stay within
// the budget (seconds, measured from the step's first failure).
inline constexpr double kBusyFirstPause = 0.1;
inline constexpr double kBusyLongestPause = 1;
inline constexpr double kBusyBudget = 10;

// Whether a failure of a file step may pass by itself: a sharing or lock violation (the file is
// open in another program), a program file busy while another program writes it, and access
// denied only where `writableFileThere()` (the file exists, is not read-only and its
// permissions let this user change it) says it could be a program still closing or a removal
// still pending. A missing file, a missing folder, a read-only file or one the user may not
// change never pass: they fail at once.
template <class WritableFileThere>
bool MayPass(const std::error_code& failure, WritableFileThere&& writableFileThere) {
    if (failure == std::errc::device_or_resource_busy || failure == std::errc::text_file_busy)
        return true;
    return failure == std::errc::permission_denied && writableFileThere();
}

// The window's waits: each dispatches events meanwhile, so the watchdog still rules them.
class WindowWaits {
  public:
    // Dispatches events until the clock reaches `deadline`, or until `ended` (when given) is
    // set by a handler.
    virtual void WaitUntil(double deadline, const bool* ended = nullptr) = 0;
    // Runs a file step on `path` under this rule: while it fails in a way that passes by itself
    // it is tried again after a pause. Any other failure, and one that outlasts the budget, is
    // thrown as it came.
    virtual void WhileBusy(const char* what, const std::string& path,
                           const std::function<void()>& step) = 0;

  protected:
    ~WindowWaits() = default;
};

// The pauses of one step, from its first failure at `start` on.
class BusyPauses {
  public:
    explicit BusyPauses(double start) : deadline_(start + kBusyBudget) {}

    // The pause before the next try, asked at `now`; 0 when the budget is spent.
    double Next(double now);

  private:
    double deadline_;
    double pause_ = kBusyFirstPause;
};

}  // namespace gor::launcher
