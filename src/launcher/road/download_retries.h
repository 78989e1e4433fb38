// When a download that did not finish is tried again in the same start: a transfer cut after
// body bytes resumes, a connection that could not be made is made again, a busy host is asked
// again after the wait it named, a resumed piece that does not continue the held bytes is
// fetched whole once; each after a pause spread at random so that launchers that failed
// together do not all come back together. A refused answer, a length or image failure, a
// connection that timed out and the watchdog end the road.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace gor::launcher {

// How one try of a download ended, as the retry rule sees it.
enum class TryEnding {
    Complete,     // downloaded: nothing to try again
    Cut,          // the transfer broke after body bytes arrived, of a known length
    Unreachable,  // no connection was made (refused, unreachable, reset before any answer),
                  // or a gateway or busy host answered 502, 503 or 504 without naming a wait
    Busy,         // a busy host (503, 429) named a wait of at most kLongestBusyWait
    Mismatch,     // a resumed piece did not continue the held bytes: the file comes whole
    Final,        // a refused answer, a data failure, a connection that timed out, a busy
                  // host's longer wait, or a cut with nothing to resume
};

inline constexpr int kMostResumes = 5;
inline constexpr int kMostReconnects = 2;
inline constexpr int kMostBusyAnswers = 3;
inline constexpr int kMostWholeAgain = 1;

// The steps between tries, in seconds: 1, 2, 4, then 8 for every later one. The pause is drawn
// uniformly between half the step and all of it.
inline constexpr double kFirstRetryPause = 1;
inline constexpr double kLongestRetryPause = 8;
// A busy host is asked again no sooner than it said, and at most half as late again; a longer
// wait than this ends the road (three of them still end within the watchdog's minute).
inline constexpr double kLongestBusyWait = 10;

// A number drawn uniformly from [0, 1).
using RandomShare = std::function<double()>;
// The process's own random source, seeded once from the system's.
double ProcessRandomShare();

class DownloadRetries {
  public:
    explicit DownloadRetries(RandomShare share = ProcessRandomShare) : share_(std::move(share)) {}
    // The pause before the next try after `ending`, or nothing when the road ends here.
    // `busyWait` is the wait a Busy host named.
    std::optional<double> After(TryEnding ending, double busyWait = 0);
    // "resume 2 of 5", "retry 1 of 2", "busy 1 of 3" or "whole again 1 of 1": the try just
    // granted by After, for the log.
    std::string LastGranted() const { return granted_; }

  private:
    std::optional<double> Grant(int& used, int most, const char* name, double step, double spread);

    RandomShare share_;
    int resumes_ = 0, reconnects_ = 0, busy_ = 0, wholeAgain_ = 0;
    std::string granted_;
};

// How a try that the server refused ends: a busy host (503, 429) that names a wait (`hostWait`,
// in seconds) of at most kLongestBusyWait is Busy; a gateway or busy host (502, 503, 504) that
// names none counts as a connection that could not be made; any other status, and a longer
// wait, is Final.
TryEnding RefusedEnding(std::string_view code, std::optional<double> hostWait);

// Whether a socket failure (its portable condition, a std::errc value) before any answer came
// is worth another connection: refused, unreachable or reset. A connection attempt that timed
// out has had its whole budget already, and trying again would outlast the road.
bool IsUnreachable(std::int32_t condition);
// Whether a socket failure is a connection attempt that timed out.
bool TimedOut(std::int32_t condition);

}  // namespace gor::launcher
