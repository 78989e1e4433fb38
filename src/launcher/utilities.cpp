// The launcher's utilities: waiting while events are dispatched, testing for and removing
// files, fetching one file through GorDownload1, and the watchdog that ends a stuck launch.
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <system_error>

#include "build_config.h"
#include "download/skip_step.h"
#include "launcher/busy_files.h"
#include "launcher/download_retries.h"
#include "launcher/frm_launch.h"
#include "launcher/paths.h"
#include "launcher/watchdog.h"
#include "window/layout.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

// The update server; the URL is this followed directly by the remote path.
constexpr const char* UpdateHost = build::kUpdateHost;
// Marks a pending transfer; nothing counts it down.
constexpr std::int16_t kTransferPending = 45;
constexpr std::int16_t kWaitStep = 1;  // seconds between looks at DownloadWait
constexpr std::int16_t kPauseAfterTerminating = 2;

// Where the body goes until it is complete: "gorupd.exe" downloads into "gorupd.tmp" beside it,
// in the same folder, so that the final move is a rename on one volume.
std::string PartialFileFor(const std::string& LocalFile) {
    const auto folderEnd = LocalFile.rfind(kPathSeparator);
    const auto dot = LocalFile.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folderEnd == std::string::npos || dot > folderEnd);
    return (hasExtension ? LocalFile.substr(0, dot) : LocalFile) + ".tmp";
}

}  // namespace

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind(kPathSeparator) + 1);
}

void frmLaunch::Pausetime(std::int16_t Length) {
    const double Start = loop_.Now();
    if (Length <= 0) return;
    WaitUntil(Start + Length);
}

void frmLaunch::WaitUntil(double deadline) {
    while (loop_.Now() < deadline) loop_.DispatchEvents(deadline);
}

bool frmLaunch::FileExist(const std::string& File, std::int32_t FileType) {
    return files_.FindFile(File, static_cast<std::uint32_t>(FileType));
}

void frmLaunch::WhileBusy(const char* what, const std::string& path,
                          const std::function<void()>& step) {
    std::optional<BusyPauses> pauses;
    for (;;) {
        try {
            step();
            return;
        } catch (const std::system_error& failure) {
            if (!pauses) pauses.emplace(loop_.Now());
            const double pause = pauses->Next(loop_.Now());
            const auto writableFileThere = [&] {
                return FileExist(path, platform::kAttrNormal) && !files_.IsProtected(path);
            };
            if (pause <= 0 || !MayPass(failure.code(), writableFileThere)) throw;
            log_.Line(std::string(what) + " " + FileNameOf(path) +
                      " waits: " + LaunchLog::Failure(failure) + "; again in " +
                      std::to_string(std::lround(pause * 1000)) + " ms");
            WaitUntil(loop_.Now() + pause);
        }
    }
}

void frmLaunch::RemoveFile(const std::string& File) {
    if (FileExist(File, platform::kAttrNormal))
        WhileBusy("removing", File, [&] { files_.Remove(File); });
}

std::unique_ptr<platform::HeldFile> frmLaunch::HoldUpdater(const std::string& path,
                                                           platform::HoldFor purpose) {
    std::unique_ptr<platform::HeldFile> held;
    WhileBusy("opening", path, [&] { held = files_.Hold(path, purpose); });
    return held;
}

// Anyone who can answer in the update server's place, or put a file in the folder, could have
// a program of theirs started: with a pin, only the publisher's signature lets an updater in.
// Only a verdict on the file's content refuses it: a check that cannot run fails the step like
// any file step (after waiting while the file is busy), and the file stays.
bool frmLaunch::IsAcceptableUpdater(platform::HeldFile& file, const std::string& path,
                                    double announcedLength) {
    platform::FileHead head;
    WhileBusy("reading", path, [&] { head = file.ReadHead(kImageHeadBytes); });
    ImageVerdict verdict;
    if (announcedLength != download::kUnknownLength &&
        static_cast<double>(head.size) != announcedLength) {
        verdict.reason = std::to_string(head.size) + " bytes, not the " +
                         FormatLength(announcedLength) + " announced";
    } else {
        verdict = checkUpdater_(head.bytes, head.size);
    }
    log_.Line(FileNameOf(path) + (verdict.whole ? " is whole: " : " is not whole: ") +
              verdict.reason);
    if (!verdict.whole || !publisher_) return verdict.whole;

    PublisherVerdict signer;
    WhileBusy("checking", path, [&] { signer = publisher_->Check(file, path); });
    log_.Line(FileNameOf(path) +
              (signer.pinned ? " is signed by the publisher " : " is not from the publisher: ") +
              signer.reason);
    return signer.pinned;
}

// The body is written to a partial file that only the `downloaded` handler moves to
// LocalFile, so a transfer that fails or is cut short (with a length announced) never leaves
// an updater behind; whatever way FetchFile ends, the partial file goes. A transfer cut after
// body bytes resumes, a connection that could not be made is made again and a busy host is
// asked again, by the retry rule (download_retries.h). Every wait here dispatches events, so
// the watchdog's two timers rule it, pauses between tries included: a server that keeps
// sending just enough to restart the watchdog still meets the download's ceiling.
void frmLaunch::FetchFile(const std::string& RemotePath, const std::string& LocalFile) {
    try {
        if (FileExist(LocalFile, platform::kAttrNormal)) RemoveFile(LocalFile);
        downloadTarget_ = LocalFile;
        partialFile_ = PartialFileFor(LocalFile);
        RemovePartialFile();  // a transfer cut short in an earlier start is never continued
        GorDownload1.fileName(partialFile_);
        GorDownload1.URL(UpdateHost + RemotePath);
        LookUpProxy(std::string("http://") + UpdateHost + RemotePath);
        received_ = 0;
        validator_.clear();
        DownloadRetries retries(retryShare_);
        StartTry(/*probe=*/true);
        for (;;) {
            while (DownloadWait > 0) Pausetime(kWaitStep);
            // A route that takes no connection, even one that timed out, passes to the next.
            if (noConnection_ && NextRoute()) {
                StartTry(/*probe=*/!bodyRequested_);
                continue;
            }
            const std::optional<double> pause = retries.After(ending_, busyWait_);
            LogRetry(retries, pause);
            if (!pause) break;
            WaitUntil(loop_.Now() + *pause);
            if (!routeAnswered_) UseRoute(0);  // the list again from its first
            StartTry(/*probe=*/!bodyRequested_);
        }
        RemovePartialFile();  // what an unfinished transfer left; a finished one moved it
    } catch (const std::exception& failure) {
        // Swallowed: the sequence's own existence test tells whether the updater arrived.
        log_.Line("download failed: " + LaunchLog::Failure(failure));
        if (!partialFile_.empty())
            SkipOnFailure(this, "removing the partial file", [&] { RemovePartialFile(); });
    }
}

void frmLaunch::LogRetry(const DownloadRetries& retries, std::optional<double> pause) {
    const std::string after = " after " + FormatLength(received_) + " bytes";
    const char* what = nullptr;
    switch (ending_) {
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
        log_.Line(std::string(what) + after + "; no tries are left" +
                  (ending_ == TryEnding::Busy
                       ? " (it asks to be asked again in " + FormatLength(busyWait_) + " s)"
                       : ""));
        return;
    }
    log_.Line(std::string(what) + after + "; " + retries.LastGranted() + " in " +
              std::to_string(std::lround(*pause * 1000)) + " ms");
}

// One try: the header probe, or the transfer when the probe has been answered already.
void frmLaunch::StartTry(bool probe) {
    DownloadWait = kTransferPending;
    ending_ = TryEnding::Final;
    noConnection_ = false;
    answerLogged_ = false;
    if (!probe) return StartTransfer();
    bodyRequested_ = false;
    requestLogged_ = false;
    GorDownload1.Readheaders();
}

// The control resumes a partial file that holds bytes; only bytes that a validator ties to
// one file on the server are resumed, any others go and the file comes whole again. A partial
// file that another program holds for a moment (a scanner, a sync client) is waited for.
void frmLaunch::StartTransfer() {
    bodyRequested_ = true;
    requestLogged_ = false;
    if (received_ > 0 && validator_.empty()) {
        RemovePartialFile();
        received_ = 0;
    }
    GorDownload1.IfRange(validator_);
    WhileBusy("opening", partialFile_, [&] { GorDownload1.DownloadFile(); });
}

// Our own leftover goes whatever its attributes: a hidden or read-only partial file that
// FileExist would not see must not be continued either. One that cannot be removed fails
// FetchFile (no transfer, so the sequence reports "Error Downloading").
void frmLaunch::RemovePartialFile() {
    try {
        WhileBusy("removing", partialFile_, [&] { files_.Remove(partialFile_); });
    } catch (const std::system_error& failure) {
        if (failure.code() != std::errc::no_such_file_or_directory) throw;
    }
}

void frmLaunch::Timer1_Timer(const std::string& why) {
    Terminate(why);
}

// "Terminating" shows at once; during a download the transfer is then stopped and its partial
// file removed (which may wait for a busy file): the program ends, and nothing of a transfer
// that went silent may stay behind.
void frmLaunch::Terminate(const std::string& why) {
    log_.Line(why);
    lblStatus.ForeColor(window::kStatusFailureColor);
    lblStatus.Caption("Terminating");
    if (watchdog_.road() == Watchdog::Road::Download) {
        SkipOnFailure(this, "stopping the transfer", [&] { GorDownload1.Cancel_Download(); });
        SkipOnFailure(this, "removing the partial file", [&] { RemovePartialFile(); });
    }
    Pausetime(kPauseAfterTerminating);
    window_.Unload();
    End(kExitWatchdog);
}

}  // namespace gor::launcher
