// The launcher's utilities: waiting while events are dispatched, testing for and removing
// files, fetching one file through GorDownload1 and its road, and the watchdog that ends a
// stuck launch.
#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <system_error>

#include "build_config.h"
#include "download/skip_step.h"
#include "launcher/busy_files.h"
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

void frmLaunch::Pausetime(std::int16_t Length) {
    const double Start = loop_.Now();
    if (Length <= 0) return;
    WaitUntil(Start + Length);
}

void frmLaunch::WaitUntil(double deadline, const bool* ended) {
    while (loop_.Now() < deadline && !(ended && *ended)) loop_.DispatchEvents(deadline);
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

// The body is written to a partial file that only the `downloaded` handler moves to
// LocalFile, so a transfer that fails or is cut short (with a length announced) never leaves
// an updater behind; whatever way FetchFile ends, the partial file goes. A transfer cut after
// body bytes resumes, a connection that could not be made is made again and a busy host is
// asked again: each try is started and judged by the road (download_road.h), and the wait
// on DownloadWait ends with it. Every wait here dispatches events, so the watchdog's two
// timers rule it, pauses between tries included: a server that keeps sending just enough to
// restart the watchdog still meets the download's ceiling.
void frmLaunch::FetchFile(const std::string& RemotePath, const std::string& LocalFile) {
    try {
        if (FileExist(LocalFile, platform::kAttrNormal)) RemoveFile(LocalFile);
        downloadTarget_ = LocalFile;
        partialFile_ = PartialFileFor(LocalFile);
        RemovePartialFile();  // a transfer cut short in an earlier start is never continued
        GorDownload1.fileName(partialFile_);
        GorDownload1.URL(UpdateHost + RemotePath);
        // After the road, the wait sees its end within a step, and the sequence pauses.
        road_.Begin(std::string("http://") + UpdateHost + RemotePath,
                    kWaitStep + kPauseAfterDownload);
        do {
            DownloadWait = kTransferPending;
            road_.StartTry();
            while (DownloadWait > 0) Pausetime(kWaitStep);
        } while (road_.Again());
        RemovePartialFile();  // what an unfinished transfer left; a finished one moved it
    } catch (const std::exception& failure) {
        // Swallowed: the sequence's own existence test tells whether the updater arrived.
        log_.Line("download failed: " + LaunchLog::Failure(failure));
        if (!partialFile_.empty())
            SkipOnFailure(this, "removing the partial file", [&] { RemovePartialFile(); });
    }
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
