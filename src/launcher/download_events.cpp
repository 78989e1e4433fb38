// frmLaunch's handlers of GorDownload1's events: the percentage line, the end of
// FetchFile's wait, the watchdog's stop, and the body transfer after a good header probe.
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "download/http_date.h"
#include "download/resume_validator.h"
#include "launcher/download_retries.h"
#include "launcher/frm_launch.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

constexpr const char* kPercentSign = " %";
constexpr const char* kProxyAuthenticationRequired = "407";

// `value` rounded to tenths, half to even as printf's %.1f rounds it ("1.5").
std::string TenthsText(double value) {
    const auto tenths = static_cast<long long>(std::nearbyint(value * 10));
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// What the percentage line shows when no percentage can be given: the amount received.
std::string AmountText(double bytes) {
    constexpr double kKilo = 1024, kMega = 1024 * 1024;
    if (bytes < kKilo) return std::to_string(static_cast<long long>(std::nearbyint(bytes))) + " B";
    if (bytes < kMega) return TenthsText(bytes / kKilo) + " KB";
    return TenthsText(bytes / kMega) + " MB";
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

// Progress restarts the watchdog when enough body came (watchdog.h).
void frmLaunch::GorDownload1_Progress(double downloaded, double Total) {
    received_ = downloaded;
    if (!answerLogged_) {
        LogRequest();
        LogAnswer("download answer");
        // The bytes of a piece that resumed them keep the validator of the file they came from.
        if (!(GorDownload1.Resuming() && GorDownload1.Resumesupported()))
            validator_ = download::ResumeValidator(GorDownload1.getheader("ETag"),
                                                   GorDownload1.getheader("Last-Modified"),
                                                   GorDownload1.getheader("Date"));
    }
    watchdog_.Progress(downloaded);
    ShowProgress(downloaded, Total);
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
    LogRequest();
    log_.Line("transfer complete: " + FormatLength(received_) + " bytes received");
    ending_ = TryEnding::Complete;
    DownloadWait = 0;
    watchdog_.Stop();
    MovePartialIntoPlace();
}

// A socket failure before any answer came may be tried again, one after body bytes may be
// resumed; a busy host is asked again; a resumed piece of another file brings the file whole;
// any other refused answer and data failure (no socket error) end the road.
void frmLaunch::GorDownload1_DownloadError(const std::string& description, bool SERVER_ERROR) {
    LogRequest();
    const std::int32_t code = GorDownload1.lastSocketError();
    if (SERVER_ERROR) {
        LogAnswer(bodyRequested_ ? "download answer" : "probe answer");
        log_.Line("server refused: " + description);
        if (GorDownload1.Responsecode() == kProxyAuthenticationRequired)
            log_.Line(kProxyAsksForCredentials);
    } else {
        const std::string codes = " (error " + std::to_string(code) + ", system error " +
                                  std::to_string(GorDownload1.lastSocketSystemError()) + ")";
        log_.Line("transfer failed after " + FormatLength(received_) + " bytes: " + description +
                  (code ? codes : ""));
    }
    if (description == download::kResumeMismatch) {
        // The control has emptied the partial file: nothing of it is continued.
        received_ = 0;
        validator_.clear();
        ending_ = TryEnding::Mismatch;
    } else {
        // A connection attempt that timed out has spent its whole budget, also on a resume.
        const bool noAnswer = !answerLogged_;
        noConnection_ = !SERVER_ERROR && noAnswer && (TimedOut(code) || IsUnreachable(code));
        ending_ = SERVER_ERROR                                ? RefusedEnding()
                  : code == 0 || (noAnswer && TimedOut(code)) ? TryEnding::Final
                  : noAnswer && IsUnreachable(code)           ? TryEnding::Unreachable
                                                              : ResumableEnding();
    }
    DownloadWait = 0;
}

TryEnding frmLaunch::RefusedEnding() {
    const std::optional<double> wait = download::RetryAfterSeconds(
        GorDownload1.getheader("Retry-After"), GorDownload1.getheader("Date"));
    busyWait_ = wait.value_or(0);
    const TryEnding ending = launcher::RefusedEnding(GorDownload1.Responsecode(), wait);
    if (wait && ending == TryEnding::Final)
        log_.Line("the server asks to be asked again in " + FormatLength(*wait) +
                  " s, longer than the " + FormatLength(kLongestBusyWait) + " s a start waits");
    return ending;
}

// A transfer the server closed before its end has failed: the wait ends at once, as for
// DownloadError, instead of lasting until the watchdog.
void frmLaunch::GorDownload1_Disconnected() {
    LogRequest();
    log_.Line("the server closed the connection after " + FormatLength(received_) +
              " bytes, before the end");
    ending_ = bodyRequested_ ? ResumableEnding() : TryEnding::Final;
    DownloadWait = 0;
}

// A broken transfer is resumed only when there are bytes to resume and the file's length is
// known, so that the control can tell a whole file from a cut one.
TryEnding frmLaunch::ResumableEnding() {
    return received_ > 0 && GorDownload1.contentLength() > 0 ? TryEnding::Cut : TryEnding::Final;
}

void frmLaunch::GorDownload1_headerread() {
    if (!GorDownload1.IsServerOk()) return;  // DownloadError has said why
    LogRequest();
    LogAnswer("probe answer");
    answerLogged_ = false;
    StartTransfer();
}

// The request line and the Range and If-Range fields as the control sent them, where to; or
// that nothing was sent (no connection was made).
void frmLaunch::LogRequest() {
    if (std::exchange(requestLogged_, true)) return;
    const char* purpose = bodyRequested_ ? "download: " : "probe: ";
    const std::string where =
        GorDownload1.proxyHost().empty()
            ? GorDownload1.host() + ":" + GorDownload1.port()
            : "the proxy " + HostPort(GorDownload1.proxyHost(), GorDownload1.proxyPort());
    const std::string& line = GorDownload1.sentLine();
    const std::string& fields = GorDownload1.sentFields();
    log_.Line(purpose + (line.empty()
                             ? "nothing sent to " + where
                             : line + " to " + where + (fields.empty() ? "" : ", ") + fields));
}

// The last answer's status line and what it said of the body's length.
void frmLaunch::LogAnswer(const char* purpose) {
    answerLogged_ = true;
    routeAnswered_ = true;
    const std::string length = GorDownload1.getheader("content-length");
    const std::string coding = GorDownload1.getheader("transfer-encoding");
    std::string text = std::string(purpose) + ": " + std::string(GorDownload1.statusLine());
    text += length.empty() ? ", no Content-Length" : ", Content-Length: " + length;
    if (!coding.empty()) text += ", Transfer-Encoding: " + coding;
    log_.Line(text);
}

// Only an acceptable updater (frmLaunch::IsAcceptableUpdater) is moved into place, of the
// announced length when a length was announced: a body without a length that the server cut
// short, or an error page served with 200, is not. It is held from its check on, for the
// rename that follows, renamed through that hold and held so until the start. Rename never
// replaces: an updater that appeared at the target during the transfer was put there by someone
// else and is neither kept as this download nor started. Any failed move leaves no updater, and the
// sequence reports "Error Downloading". A partial file that was not moved is removed when
// FetchFile's wait ends.
void frmLaunch::MovePartialIntoPlace() {
    SkipOnFailure(this, "installing the download", [&] {
        // A length of 0 (or a word) brings an empty file, which the image check refuses.
        const double announced = GorDownload1.contentLength();
        std::unique_ptr<platform::HeldFile> held =
            HoldUpdater(partialFile_, platform::HoldFor::Renaming);
        if (!IsAcceptableUpdater(*held, partialFile_,
                                 announced > 0 ? announced : download::kUnknownLength))
            return;
        WhileBusy("renaming", partialFile_, [&] { held->Rename(FileNameOf(downloadTarget_)); });
        updater_ = std::move(held);
        log_.Line(FileNameOf(partialFile_) + " renamed to " + FileNameOf(downloadTarget_));
    });
}

}  // namespace gor::launcher
