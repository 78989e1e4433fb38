// The watchdog's rule in one place: how long a download or a patch may go without progress,
// how much body counts as progress, and the ceiling of a whole download.
#pragma once

#include <string>

namespace gor::launcher {

// Timer1's interval: a patch gets this long, and a download this long without progress.
inline constexpr int kTimer1IntervalMs = 60000;
inline constexpr double kWatchdogSeconds = kTimer1IntervalMs / 1000.0;

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
    return "watchdog: the patch took " + std::to_string(static_cast<int>(kWatchdogSeconds)) + " s";
}
inline std::string SilenceText(const std::string& received) {
    return "watchdog: less than " + std::to_string(static_cast<int>(kLeastProgressBytes)) +
           " bytes in " + std::to_string(static_cast<int>(kWatchdogSeconds)) + " s after " +
           received + " bytes";
}
inline std::string CeilingText(const std::string& received) {
    return "watchdog: the download reached its ceiling of " +
           std::to_string(static_cast<int>(kDownloadCeilingSeconds)) + " s after " + received +
           " bytes";
}

}  // namespace gor::launcher
