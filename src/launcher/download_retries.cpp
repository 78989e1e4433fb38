// The retry rule of a download: which endings are tried again, how often, after what pause.
#include "launcher/download_retries.h"

#include <algorithm>
#include <system_error>

namespace gor::launcher {

namespace {

double PauseBefore(int tryNumber) {
    double pause = kFirstRetryPause;
    for (int i = 1; i < tryNumber && pause < kLongestRetryPause; ++i) pause *= 2;
    return std::min(pause, kLongestRetryPause);
}

}  // namespace

std::optional<double> DownloadRetries::After(TryEnding ending) {
    switch (ending) {
        case TryEnding::Cut:
            if (resumes_ == kMostResumes) return std::nullopt;
            lastWasResume_ = true;
            return PauseBefore(++resumes_);
        case TryEnding::Unreachable:
            if (reconnects_ == kMostReconnects) return std::nullopt;
            lastWasResume_ = false;
            return PauseBefore(++reconnects_);
        case TryEnding::Complete:
        case TryEnding::Final:
            break;
    }
    return std::nullopt;
}

std::string DownloadRetries::LastGranted() const {
    return lastWasResume_
               ? "resume " + std::to_string(resumes_) + " of " + std::to_string(kMostResumes)
               : "retry " + std::to_string(reconnects_) + " of " + std::to_string(kMostReconnects);
}

bool IsUnreachable(std::int32_t condition) {
    switch (static_cast<std::errc>(condition)) {
        case std::errc::connection_refused:
        case std::errc::network_unreachable:
        case std::errc::host_unreachable:
        case std::errc::timed_out:
            return true;
        default:
            return false;
    }
}

std::string ResumeValidator(const std::string& etag, const std::string& lastModified) {
    // A strong entity tag is a quoted string; anything else cannot be compared exactly.
    if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return etag;
    return lastModified;
}

}  // namespace gor::launcher
