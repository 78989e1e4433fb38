// DownloadRoad: the tries of one download, their routes and pauses, and their log lines.
#include "launcher/road/download_road.h"

#include <cmath>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "download/http_date.h"
#include "download/resume_validator.h"
#include "download/skip_step.h"
#include "launcher/base/paths.h"
#include "platform/socket_control.h"

namespace gor::launcher {

namespace {

constexpr const char* kProxyAuthenticationRequired = "407";
// The longest a try may take to find that no connection can be made.
constexpr double kConnectSeconds = platform::kConnectMilliseconds / 1000.0;

// Where the body goes until it is complete: "gorupd.exe" downloads into "gorupd.tmp" beside it,
// in the same folder, so that the final move is a rename on one volume.
std::string PartialFileFor(const std::string& target) {
    const auto folderEnd = target.rfind(kPathSeparator);
    const auto dot = target.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd);
    return Joined(
        {std::string_view(target).substr(0, hasExtension ? dot : std::string::npos), ".tmp"});
}

}  // namespace

DownloadRoad::DownloadRoad(download::GorDownload& control, RoadWindow& window,
                           platform::EventLoop& loop, platform::FileSystem& files,
                           const Watchdog& watchdog, LaunchLog& log,
                           download::SkippedFailures& skipped, platform::SystemProxy* proxy,
                           RandomShare retryShare)
    : control_(control),
      window_(window),
      loop_(loop),
      files_(files),
      watchdog_(watchdog),
      log_(log),
      skipped_(skipped),
      proxy_(proxy),
      retryShare_(std::move(retryShare)),
      retries_(retryShare_) {}

// The body is written to a partial file that only the window's `downloaded` handler moves to
// the target, so a transfer that fails or is cut short (with a length announced) never leaves
// an updater behind; whatever way the fetch ends, the partial file goes. A transfer cut after
// body bytes resumes, a connection that could not be made is made again and a busy host is
// asked again: each try is started and judged here, and the window's wait ends with it. Every
// wait dispatches events, so the watchdog's two timers rule it, pauses between tries included:
// a server that keeps sending just enough to restart the watchdog still meets the download's
// ceiling.
void DownloadRoad::Fetch(const std::string& hostAndPath, const std::string& target,
                         double reserve) {
    partialFile_.clear();
    try {
        if (files_.FindFile(target, platform::kAttrNormal))
            window_.WhileBusy("removing", target, [&] { files_.Remove(target); });
        target_ = target;
        partialFile_ = PartialFileFor(target);
        RemovePartialFile();  // a transfer cut short in an earlier start is never continued
        control_.fileName(partialFile_);
        control_.URL(hostAndPath);
        Begin(Joined({"http://", hostAndPath}), reserve);
        do {
            window_.AwaitTry([this] { StartTry(); });
        } while (Again());
        RemovePartialFile();  // what an unfinished transfer left; a finished one moved it
    } catch (const std::exception& failure) {
        // Swallowed: the sequence's own existence test tells whether the updater arrived. A
        // transfer still running would keep writing the partial file: it is stopped first.
        log_.Line(Joined({"download failed: ", LaunchLog::Failure(failure)}));
        download::SkipOnFailure(&skipped_, "stopping the transfer",
                                [&] { control_.Cancel_Download(); });
        if (!partialFile_.empty())
            download::SkipOnFailure(&skipped_, "removing the partial file",
                                    [&] { RemovePartialFile(); });
    }
}

// Nothing of a transfer that went silent may stay behind.
void DownloadRoad::Stop() {
    download::SkipOnFailure(&skipped_, "stopping the transfer",
                            [&] { control_.Cancel_Download(); });
    download::SkipOnFailure(&skipped_, "removing the partial file", [&] { RemovePartialFile(); });
}

// Our own leftover goes whatever its attributes: a hidden or read-only partial file that
// FileExist would not see must not be continued either. One that cannot be removed fails the
// fetch (no transfer, so the sequence reports "Error Downloading").
void DownloadRoad::RemovePartialFile() {
    try {
        window_.WhileBusy("removing", partialFile_, [&] { files_.Remove(partialFile_); });
    } catch (const std::system_error& failure) {
        if (failure.code() != std::errc::no_such_file_or_directory) throw;
    }
}

void DownloadRoad::Begin(const std::string& url, double reserve) {
    reserve_ = reserve;
    retries_ = DownloadRetries(retryShare_);
    try_ = Try{};
    received_ = 0;
    validator_.clear();
    routes_ = std::vector<ProxyRoute>(1);
    route_ = 0;
    routeAnswered_ = false;
    LookUpProxy(url);
}

void DownloadRoad::StartTry() {
    StartRequest(/*probe=*/!try_.bodyRequested);
}

// A route that takes no connection, even one that timed out, passes to the next at once;
// otherwise the retry rule decides, and a try again walks the routes from their first. A road
// that runs out of time ends by itself, so that a network failure is "Error Downloading" and
// never the watchdog's "Terminating".
bool DownloadRoad::Again() {
    if (try_.noConnection && NextRoute()) return true;
    const std::optional<double> pause = retries_.After(try_.ending, try_.busyWait);
    const bool inTime = pause && InTime(*pause);
    LogRetry(pause, inTime);
    if (!inTime) return false;
    window_.WaitUntil(loop_.Now() + *pause);
    if (!routeAnswered_) UseRoute(0);  // the list again from its first
    return true;
}

// One request: the header probe, or the transfer once the probe has been answered.
void DownloadRoad::StartRequest(bool probe) {
    try_ = Try{.bodyRequested = !probe};
    if (!probe) return StartTransfer();
    control_.Readheaders();
}

// The control resumes a partial file that holds bytes; only bytes that a validator ties to
// one file on the server are resumed, any others go and the file comes whole again. A partial
// file that another program holds for a moment (a scanner, a sync client) is waited for.
void DownloadRoad::StartTransfer() {
    if (received_ > 0 && validator_.empty()) {
        RemovePartialFile();
        received_ = 0;
    }
    control_.IfRange(validator_);
    window_.WhileBusy("opening", control_.fileName(), [&] { control_.DownloadFile(); });
}

void DownloadRoad::Progress(double downloaded) {
    received_ = downloaded;
    if (try_.answerLogged) return;
    LogRequest();
    LogAnswer("download answer");
    // The bytes of a piece that resumed them keep the validator of the file they came from.
    if (!(control_.Resuming() && control_.Resumesupported()))
        validator_ = download::ResumeValidator(control_.getheader("ETag"),
                                               control_.getheader("Last-Modified"),
                                               control_.getheader("Date"));
}

void DownloadRoad::ProbeAnswered() {
    LogRequest();
    LogAnswer("probe answer");
    StartRequest(/*probe=*/false);
}

void DownloadRoad::Complete() {
    LogRequest();
    log_.Line(Joined({"transfer complete: ", FormatLength(received_), " bytes received"}));
    try_.ending = TryEnding::Complete;
}

// A socket failure before any answer came may be tried again, one after body bytes may be
// resumed; a busy host is asked again; a resumed piece of another file brings the file whole;
// any other refused answer and data failure (no socket error) end the road.
void DownloadRoad::Failed(const std::string& description, bool SERVER_ERROR) {
    LogRequest();
    const std::int32_t code = control_.lastSocketCondition();
    if (SERVER_ERROR) {
        LogAnswer(try_.bodyRequested ? "download answer" : "probe answer");
        log_.Line(Joined({"server refused: ", description}));
        if (control_.Responsecode() == kProxyAuthenticationRequired)
            log_.Line(kProxyAsksForCredentials);
    } else {
        const std::string codes =
            code ? Joined({" (error ", std::to_string(code), ", system error ",
                           std::to_string(control_.lastSocketSystemCode()), ")"})
                 : "";
        log_.Line(Joined(
            {"transfer failed after ", FormatLength(received_), " bytes: ", description, codes}));
    }
    if (control_.resumeMismatched()) {
        // The control has emptied the partial file: nothing of it is continued.
        received_ = 0;
        validator_.clear();
        try_.ending = TryEnding::Mismatch;
    } else {
        // A connection attempt that timed out has spent its whole budget, also on a resume.
        const bool noAnswer = !try_.answerLogged;
        try_.noConnection = !SERVER_ERROR && noAnswer && (TimedOut(code) || IsUnreachable(code));
        try_.ending = SERVER_ERROR                                ? RefusedEnding()
                      : code == 0 || (noAnswer && TimedOut(code)) ? TryEnding::Final
                      : noAnswer && IsUnreachable(code)           ? TryEnding::Unreachable
                                                                  : ResumableEnding();
    }
}

TryEnding DownloadRoad::RefusedEnding() {
    const std::optional<double> wait =
        download::RetryAfterSeconds(control_.getheader("Retry-After"), control_.getheader("Date"));
    try_.busyWait = wait.value_or(0);
    const TryEnding ending = launcher::RefusedEnding(control_.Responsecode(), wait);
    if (wait && ending == TryEnding::Final)
        log_.Line(
            Joined({"the server asks to be asked again in ", FormatLength(*wait),
                    " s, longer than the ", FormatLength(kLongestBusyWait), " s a start waits"}));
    return ending;
}

void DownloadRoad::Disconnected() {
    LogRequest();
    log_.Line(Joined({"the server closed the connection after ", FormatLength(received_),
                      " bytes, before the end"}));
    try_.ending = try_.bodyRequested ? ResumableEnding() : TryEnding::Final;
}

// A broken transfer is resumed only when there are bytes to resume and the file's length is
// known, so that the control can tell a whole file from a cut one.
TryEnding DownloadRoad::ResumableEnding() {
    return received_ > 0 && control_.contentLength() > 0 ? TryEnding::Cut : TryEnding::Final;
}

// The request line and the Range and If-Range fields as the control sent them, where to; or
// that nothing was sent (no connection was made).
void DownloadRoad::LogRequest() {
    if (std::exchange(try_.requestLogged, true)) return;
    const char* purpose = try_.bodyRequested ? "download: " : "probe: ";
    const std::string where =
        control_.proxyHost().empty()
            ? Joined({control_.host(), ":", control_.port()})
            : Joined({"the proxy ", HostPort(control_.proxyHost(), control_.proxyPort())});
    const std::string& line = control_.sentLine();
    const std::string& fields = control_.sentFields();
    if (line.empty())
        log_.Line(Joined({purpose, "nothing sent to ", where}));
    else
        log_.Line(Joined({purpose, line, " to ", where, fields.empty() ? "" : ", ", fields}));
}

// The last answer's status line and what it said of the body's length.
void DownloadRoad::LogAnswer(const char* purpose) {
    try_.answerLogged = true;
    routeAnswered_ = true;
    const std::string length = control_.getheader("content-length");
    const std::string coding = control_.getheader("transfer-encoding");
    log_.Line(Joined({purpose, ": ", control_.statusLine(),
                      length.empty() ? ", no Content-Length" : ", Content-Length: ", length,
                      coding.empty() ? "" : ", Transfer-Encoding: ", coding}));
}

bool DownloadRoad::InTime(double pause) const {
    return loop_.Now() + pause + kConnectSeconds + reserve_ < watchdog_.Deadline();
}

std::string DownloadRoad::NoTimeFor(const std::string& what) const {
    return Joined({"no time is left for ", what, " before the watchdog (it would end the road in ",
                   FormatLength(watchdog_.Deadline() - loop_.Now()), " s)"});
}

void DownloadRoad::LogRetry(std::optional<double> pause, bool inTime) {
    const std::string received = FormatLength(received_);
    const char* what = nullptr;
    switch (try_.ending) {
        case TryEnding::Cut:
            what = "the transfer broke";
            break;
        case TryEnding::Unreachable:
            what = "no connection was made";
            break;
        case TryEnding::Busy:
            what = "the server is busy";
            break;
        case TryEnding::Mismatch:
            what = "the resumed piece is of another file";
            break;
        case TryEnding::Complete:
        case TryEnding::Final:
            return;
    }
    if (!pause) {
        const bool busy = try_.ending == TryEnding::Busy;
        log_.Line(Joined({what, " after ", received, " bytes; no tries are left",
                          busy ? " (it asks to be asked again in " : "",
                          busy ? FormatLength(try_.busyWait) : "", busy ? " s)" : ""}));
        return;
    }
    if (!inTime) {
        log_.Line(
            Joined({what, " after ", received, " bytes; ", NoTimeFor(retries_.LastGranted())}));
        return;
    }
    log_.Line(Joined({what, " after ", received, " bytes; ", retries_.LastGranted(), " in ",
                      std::to_string(std::lround(*pause * 1000)), " ms"}));
}

// The settings set by hand are read at once; auto-detection and the script answer from other
// threads, waited for kProxyLookupSeconds at most. One that outlasts its bound may end later:
// its answer then finds nothing to fill.
void DownloadRoad::LookUpProxy(const std::string& url) {
    if (!proxy_) return;
    struct Answers : ProxyAnswers {
        bool arrived = false;  // since the wait last looked
    };
    const auto answers = std::make_shared<Answers>();
    const platform::ProxyStart start =
        proxy_->Start(url, [weak = std::weak_ptr(answers)](platform::ProxySource asked,
                                                           platform::ProxySettings answer) {
            const auto waiting = weak.lock();
            if (!waiting) return;
            (asked == platform::ProxySource::Script ? waiting->script : waiting->autoDetection) =
                std::move(answer);
            waiting->arrived = true;
        });
    const double begin = loop_.Now();
    std::optional<platform::ProxySettings> settings;
    while (!(settings = SettingsToUse(start, *answers, loop_.Now() - begin))) {
        answers->arrived = false;
        const double elapsed = loop_.Now() - begin;
        window_.WaitUntil(begin + (elapsed < kAutoDetectionShareSeconds ? kAutoDetectionShareSeconds
                                                                        : kProxyLookupSeconds),
                          &answers->arrived);
    }
    std::string skipped;
    routes_ = ChooseRoutes(*settings, control_.host(), control_.port(), &skipped);
    if (!skipped.empty()) log_.Line(Joined({"proxy: skipped ", skipped}));
    log_.Line(Joined({"proxy: ", DescribeRoutes(*settings, routes_)}));
    UseRoute(0);
}

void DownloadRoad::UseRoute(std::size_t route) {
    route_ = route;
    control_.Proxy(routes_[route].host, routes_[route].port);
}

bool DownloadRoad::NextRoute() {
    if (routeAnswered_ || route_ + 1 >= routes_.size()) return false;
    const ProxyRoute& next = routes_[route_ + 1];
    const std::string name = next.host.empty() ? "direct" : HostPort(next.host, next.port);
    if (!InTime(0)) {
        log_.Line(
            Joined({"no connection was made; ", NoTimeFor(Joined({"the next route, ", name}))}));
        try_.ending = TryEnding::Final;  // nor is any other try in time: the road ends
        return false;
    }
    UseRoute(route_ + 1);
    log_.Line(Joined({"no connection was made; next route: ", name}));
    return true;
}

}  // namespace gor::launcher
