// The retry rule of a download: which endings are tried again, how often, after what pause.
#include "launcher/road/download_retries.h"

#include <algorithm>
#include <random>
#include <system_error>

#include "launcher/base/joined.h"

namespace gor::launcher {

namespace {

double StepBefore(int tryNumber) {
    double step = kFirstRetryPause;
    for (int i = 1; i < tryNumber && step < kLongestRetryPause; ++i) step *= 2;
    return std::min(step, kLongestRetryPause);
}

}  // namespace

double ProcessRandomShare() {
    static std::minstd_rand source{std::random_device{}()};
    return std::uniform_real_distribution<double>(0, 1)(source);
}

std::optional<double> DownloadRetries::Grant(int& used, int most, const char* name, double step,
                                             double spread) {
    if (used == most) return std::nullopt;
    ++used;
    granted_ = Joined({name, " ", std::to_string(used), " of ", std::to_string(most)});
    return step * (1 - spread + spread * share_());
}

std::optional<double> DownloadRetries::After(TryEnding ending, double busyWait) {
    switch (ending) {
        case TryEnding::Cut:
            return Grant(resumes_, kMostResumes, "resume", StepBefore(resumes_ + 1), 0.5);
        case TryEnding::Unreachable:
            return Grant(reconnects_, kMostReconnects, "retry", StepBefore(reconnects_ + 1), 0.5);
        case TryEnding::Busy:
            // The spread goes forward from the host's wait: asked again no sooner than it said.
            return Grant(busy_, kMostBusyAnswers, "busy", busyWait * 1.5, 1.0 / 3);
        case TryEnding::Mismatch:
            return Grant(wholeAgain_, kMostWholeAgain, "whole again", kFirstRetryPause, 0.5);
        case TryEnding::Complete:
        case TryEnding::Final:
            break;
    }
    return std::nullopt;
}

TryEnding RefusedEnding(std::string_view code, std::optional<double> hostWait) {
    const bool busy = code == "503" || code == "429";
    if (busy && hostWait) return *hostWait <= kLongestBusyWait ? TryEnding::Busy : TryEnding::Final;
    return code == "502" || code == "503" || code == "504" ? TryEnding::Unreachable
                                                           : TryEnding::Final;
}

bool TimedOut(std::int32_t condition) {
    return static_cast<std::errc>(condition) == std::errc::timed_out;
}

bool IsUnreachable(std::int32_t condition) {
    switch (static_cast<std::errc>(condition)) {
        case std::errc::connection_refused:
        case std::errc::network_unreachable:
        case std::errc::host_unreachable:
        case std::errc::connection_reset:
            return true;
        default:
            return false;
    }
}

}  // namespace gor::launcher
