// The watchdog's rule in one place: how long a download or a patch may go without progress,
// how much body counts as progress, the ceiling of a whole download, and why it ended one.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "launcher/base/joined.h"
#include "platform/event_loop.h"

namespace gor::launcher {

// The watchdog's minute: a patch gets this long, and a download this long without progress.
inline constexpr int kWatchdogIntervalMs = 60000;
inline constexpr double kWatchdogSeconds = kWatchdogIntervalMs / 1000.0;

// A download's body restarts the watchdog only once this much has arrived since the last
// restart, so an interval with less of it counts as silence: a server that trickles a byte
// now and then cannot keep the launcher waiting.
inline constexpr double kLeastProgressBytes = 1024;

// The watchdog is restarted by a download's bytes at most this often, in seconds (a fast
// transfer raises thousands of Progress events a second).
inline constexpr double kWatchdogRestartStep = 1;

// No download lasts longer than this, in seconds, however steadily its bytes arrive.
inline constexpr double kDownloadCeilingSeconds = 30 * 60;

// The gorlaunch.log lines of the three endings the watchdog makes, with the body's bytes so far.
inline std::string PatchTooLongText() {
    return Joined(
        {"watchdog: the patch took ", std::to_string(static_cast<int>(kWatchdogSeconds)), " s"});
}
inline std::string SilenceText(const std::string& received) {
    return Joined({"watchdog: less than ", std::to_string(static_cast<int>(kLeastProgressBytes)),
                   " bytes in ", std::to_string(static_cast<int>(kWatchdogSeconds)), " s after ",
                   received, " bytes"});
}
inline std::string CeilingText(const std::string& received) {
    return Joined({"watchdog: the download reached its ceiling of ",
                   std::to_string(static_cast<int>(kDownloadCeilingSeconds)), " s after ", received,
                   " bytes"});
}

// The window's watchdog: the minute on a timer, the download's ceiling on a timer of its own,
// and the rule above. Runs on the UI thread; the minute's tick and the ceiling's call
// `onExpiry` (the window's handler of its timer) with the ending's log line, from inside the
// event loop, so a wait of any kind (a transfer, a pause between tries, a busy file) ends when
// either runs out.
class Watchdog {
  public:
    enum class Road { Patch, Download };

    using Expiry = std::function<void(const std::string& why)>;
    // `received` tells a download's body bytes so far (the partial file's length), which the
    // download road keeps.
    Watchdog(platform::EventLoop& loop, Expiry onExpiry, std::function<double()> received);
    Watchdog(const Watchdog&) = delete;  // its timer calls back into this very object
    Watchdog& operator=(const Watchdog&) = delete;

    // Arms the minute for `road`: a patch gets kWatchdogSeconds in all, a download that long
    // without progress and kDownloadCeilingSeconds in all, from now.
    void Start(Road road);
    // Disarms both timers (the road's end, or a completed download).
    void Stop();
    Road road() const { return road_; }
    // When, on the clock, a download's watchdog ends the road unless progress restarts the
    // minute first: the minute's expiry or the ceiling, whichever comes sooner.
    double Deadline() const;

    // A download's body has grown to `received`: kLeastProgressBytes since the last restart
    // restart the minute, at most once every kWatchdogRestartStep seconds.
    void Progress();
    // The log line of the minute's expiry now (the patch took too long, or a download went
    // silent), with the body's bytes so far.
    std::string ExpiryText() const;

  private:
    platform::EventLoop& loop_;
    Expiry onExpiry_;
    std::function<double()> received_;
    std::unique_ptr<platform::Timer> minute_;   // kWatchdogSeconds, restarted by progress
    std::unique_ptr<platform::Timer> ceiling_;  // a download's whole time; never restarted
    Road road_ = Road::Patch;
    double startedAt_ = 0;    // when the road began: the ceiling counts from here
    double restartedAt_ = 0;  // when a download's bytes last restarted the minute
    double bytesAtRestart_ = 0;
};

}  // namespace gor::launcher
