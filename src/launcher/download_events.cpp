// frmLaunch's handlers of GorDownload1's events: the percentage line, the end of
// FetchFile's wait, the watchdog's stop, the body transfer after a good header probe (through
// the road, download_road.h), and the finished body moved into place.
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "launcher/frm_launch.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

constexpr const char* kPercentSign = " %";

// `value` rounded to tenths, half to even as printf's %.1f rounds it ("1.5").
std::string TenthsText(double value) {
    const auto tenths = static_cast<long long>(std::nearbyint(value * 10));
    return Joined({std::to_string(tenths / 10), ".", std::to_string(tenths % 10)});
}

// What the percentage line shows when no percentage can be given: the amount received.
std::string AmountText(double bytes) {
    constexpr double kKilo = 1024, kMega = 1024 * 1024;
    if (bytes < kKilo)
        return Joined({std::to_string(static_cast<long long>(std::nearbyint(bytes))), " B"});
    if (bytes < kMega) return Joined({TenthsText(bytes / kKilo), " KB"});
    return Joined({TenthsText(bytes / kMega), " MB"});
}

bool FitsPercent(double value) {
    return value >= std::numeric_limits<std::int16_t>::min() &&
           value <= std::numeric_limits<std::int16_t>::max();
}

}  // namespace

void frmLaunch::Progress(double downloaded, double Total) {
    GorDownload1_Progress(downloaded, Total);
}
void frmLaunch::downloaded(const std::string& dfile) {
    GorDownload1_downloaded(dfile);
}
void frmLaunch::DownloadError(const std::string& description, bool SERVER_ERROR) {
    GorDownload1_DownloadError(description, SERVER_ERROR);
}
void frmLaunch::headerread() {
    GorDownload1_headerread();
}
void frmLaunch::Disconnected() {
    GorDownload1_Disconnected();
}

// The road keeps the bytes received; the watchdog (restarted when enough body came,
// watchdog.h) and the percentage line read them there.
void frmLaunch::GorDownload1_Progress(double downloaded, double Total) {
    road_.Progress(downloaded);
    watchdog_.Progress();
    ShowProgress(road_.received(), Total);
}

// The share is rounded half to even (nearbyint in the default rounding mode) and not clamped.
// Without a usable length (Total not positive), or with a share that Percent cannot hold,
// the line shows the amount received instead and Percent keeps its last value.
void frmLaunch::ShowProgress(double downloaded, double Total) {
    if (Total > 0) {
        const double share = std::nearbyint((downloaded / 100) / (Total / 100) * 100);
        if (FitsPercent(share)) {
            Percent = static_cast<std::int16_t>(share);
            lblPercent.Caption(std::to_string(Percent) + kPercentSign);
            return;
        }
    }
    lblPercent.Caption(AmountText(downloaded));
}

void frmLaunch::GorDownload1_downloaded(const std::string& dfile) {
    (void)dfile;
    road_.Complete();
    DownloadWait = 0;
    watchdog_.Stop();
    MovePartialIntoPlace();
}

void frmLaunch::GorDownload1_DownloadError(const std::string& description, bool SERVER_ERROR) {
    road_.Failed(description, SERVER_ERROR);
    DownloadWait = 0;
}

// A transfer the server closed before its end has failed: the wait ends at once, as for
// DownloadError, instead of lasting until the watchdog.
void frmLaunch::GorDownload1_Disconnected() {
    road_.Disconnected();
    DownloadWait = 0;
}

void frmLaunch::GorDownload1_headerread() {
    if (!GorDownload1.IsServerOk()) return;  // DownloadError has said why
    road_.ProbeAnswered();
}

// Only an acceptable updater (updater_hold.h) is moved into place, of the announced length
// when a length was announced: a body without a length that the server cut short, or an error
// page served with 200, is not. It is held from its check on, for the rename that follows,
// renamed through that hold and held so until the start. Rename never replaces: an updater that
// appeared at the target during the transfer was put there by someone else and is neither kept
// as this download nor started. Any failed move leaves no updater, and the sequence reports
// "Error Downloading". A partial file that was not moved is removed when FetchFile's wait ends.
void frmLaunch::MovePartialIntoPlace() {
    SkipOnFailure(this, "installing the download", [&] {
        // A length of 0 (or a word) brings an empty file, which the image check refuses.
        const double announced = GorDownload1.contentLength();
        if (hold_.TakeDownload(road_.partialFile(),
                               announced > 0 ? announced : download::kUnknownLength))
            hold_.Rename(FileNameOf(road_.target()));
    });
}

}  // namespace gor::launcher
