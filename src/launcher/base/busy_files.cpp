// The pauses of the waiting rule for busy files: doubling up to a second, within the budget.
#include "launcher/base/busy_files.h"

#include <algorithm>

namespace gor::launcher {

double BusyPauses::Next(double now) {
    const double left = deadline_ - now;
    if (left <= 0) return 0;
    const double pause = std::min(pause_, left);
    pause_ = std::min(pause_ * 2, kBusyLongestPause);
    return pause;
}

}  // namespace gor::launcher
