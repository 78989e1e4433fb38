// The window's watchdog: its minute armed for a road, restarted by a download's progress.
#include "launcher/road/watchdog.h"

#include <algorithm>
#include <utility>

#include "launcher/base/launch_log.h"

namespace gor::launcher {

Watchdog::Watchdog(platform::EventLoop& loop, Expiry onExpiry, std::function<double()> received)
    : loop_(loop),
      onExpiry_(std::move(onExpiry)),
      received_(std::move(received)),
      minute_(loop.CreateTimer(kWatchdogIntervalMs, [this] { onExpiry_(ExpiryText()); })),
      ceiling_(loop.CreateTimer(static_cast<int>(kDownloadCeilingSeconds * 1000),
                                [this] { onExpiry_(CeilingText(FormatLength(received_()))); })) {}

void Watchdog::Start(Road road) {
    road_ = road;
    startedAt_ = restartedAt_ = loop_.Now();
    bytesAtRestart_ = 0;
    minute_->SetEnabled(true);
    if (road == Road::Download) ceiling_->SetEnabled(true);
}

void Watchdog::Stop() {
    minute_->SetEnabled(false);
    if (ceiling_->Enabled()) ceiling_->SetEnabled(false);
}

// A link that keeps delivering is never cut, however long the whole file takes, while a minute
// with less body than kLeastProgressBytes counts as silence. The restart is skipped within a
// second of the previous one, so the silence that ends a download is 59 to 60 seconds long.
// A file that started again from 0 counts from where it stands: its bytes below the last
// restart's are new body all the same.
void Watchdog::Progress() {
    const double bytes = received_();
    bytesAtRestart_ = std::min(bytesAtRestart_, bytes);
    const double now = loop_.Now();
    if (minute_->Enabled() && bytes - bytesAtRestart_ >= kLeastProgressBytes &&
        now - restartedAt_ >= kWatchdogRestartStep) {
        restartedAt_ = now;
        bytesAtRestart_ = bytes;
        minute_->SetEnabled(true);
    }
}

double Watchdog::Deadline() const {
    return std::min(restartedAt_ + kWatchdogSeconds, startedAt_ + kDownloadCeilingSeconds);
}

std::string Watchdog::ExpiryText() const {
    return road_ == Road::Patch ? PatchTooLongText() : SilenceText(FormatLength(received_()));
}

}  // namespace gor::launcher
