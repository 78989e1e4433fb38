// When a download that did not finish is tried again in the same start: a transfer cut after
// body bytes resumes, a connection that could not be made is made again, each after a pause
// that doubles; a refused answer, a length or image failure and the watchdog end the road.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace gor::launcher {

// How one try of a download ended, as the retry rule sees it.
enum class TryEnding {
    Complete,     // downloaded: nothing to try again
    Cut,          // the transfer broke after body bytes arrived, of a known length
    Unreachable,  // no connection could be made (refused, unreachable, timed out)
    Final,        // a refused answer, a data failure, or a cut with nothing to resume
};

inline constexpr int kMostResumes = 5;
inline constexpr int kMostReconnects = 2;

// The pauses between tries, in seconds: 1, 2, 4, then 8 for every later one.
inline constexpr double kFirstRetryPause = 1;
inline constexpr double kLongestRetryPause = 8;

class DownloadRetries {
  public:
    // The pause before the next try after `ending`, or nothing when the road ends here.
    std::optional<double> After(TryEnding ending);
    // "resume 2 of 5" or "retry 1 of 2": the try just granted by After, for the log.
    std::string LastGranted() const;

  private:
    int resumes_ = 0, reconnects_ = 0;
    bool lastWasResume_ = false;
};

// Whether a socket failure (its portable condition, a std::errc value) means that no
// connection could be made at all, rather than that a made one broke.
bool IsUnreachable(std::int32_t condition);

// The validator to send as If-Range with a resumed request, from the answer the held bytes
// came from: its strong ETag, else its Last-Modified date, else none (empty). A weak ETag
// ("W/...") never names one exact file.
std::string ResumeValidator(const std::string& etag, const std::string& lastModified);

}  // namespace gor::launcher
