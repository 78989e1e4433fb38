// The launcher's utilities: waiting while events are dispatched (also while a file is busy),
// testing for and removing files, FetchFile's drive of the download road, and the ending the
// watchdog makes; the watchdog itself, its timers and rule, is in watchdog.cpp.
#include <cmath>
#include <optional>
#include <string>
#include <system_error>

#include "build_config.h"
#include "launcher/base/busy_files.h"
#include "launcher/frm_launch.h"
#include "launcher/road/watchdog.h"
#include "window/layout.h"

namespace gor::launcher {

namespace {

// The update server; the URL is this followed directly by the remote path.
constexpr const char* UpdateHost = build::kUpdateHost;
// Marks a pending transfer; nothing counts it down.
constexpr std::int16_t kTransferPending = 45;
constexpr std::int16_t kWaitStep = 1;  // seconds between looks at DownloadWait
constexpr std::int16_t kPauseAfterTerminating = 2;

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
            // A look at the file that fails says nothing of it: the step's own failure stands.
            const auto writableFileThere = [&] {
                bool writable = false;
                SkipOnFailure(this, "looking at the file", [&] {
                    writable = FileExist(path, platform::kAttrNormal) && !files_.IsProtected(path);
                });
                return writable;
            };
            if (pause <= 0 || !MayPass(failure.code(), writableFileThere)) throw;
            log_.Line(Joined({what, " ", FileNameOf(path), " waits: ", LaunchLog::Failure(failure),
                              "; again in ", std::to_string(std::lround(pause * 1000)), " ms"}));
            WaitUntil(loop_.Now() + pause);
        }
    }
}

void frmLaunch::RemoveFile(const std::string& File) {
    if (FileExist(File, platform::kAttrNormal))
        WhileBusy("removing", File, [&] { files_.Remove(File); });
}

// The road (download_road.h) owns the fetch; after it, the wait sees its end within a step,
// and the sequence pauses.
void frmLaunch::FetchFile(const std::string& RemotePath, const std::string& LocalFile) {
    road_.Fetch(UpdateHost + RemotePath, LocalFile, kWaitStep + kPauseAfterDownload);
}

void frmLaunch::AwaitTry(const std::function<void()>& start) {
    DownloadWait = kTransferPending;
    start();
    while (DownloadWait > 0) Pausetime(kWaitStep);
}

void frmLaunch::Timer1_Timer(const std::string& why) {
    Terminate(why);
}

// "Terminating" shows at once; during a download the transfer is then stopped and its partial
// file removed (which may wait for a busy file): the program ends, and nothing of a transfer
// that went silent may stay behind.
void frmLaunch::Terminate(const std::string& why) {
    hold_.LetGo();  // nothing starts now
    log_.Line(why);
    lblStatus.ForeColor(window::kStatusFailureColor);
    lblStatus.Caption("Terminating");
    if (watchdog_.road() == Watchdog::Road::Download) road_.Stop();
    Pausetime(kPauseAfterTerminating);
    window_.Unload();
    End(kExitWatchdog);
}

}  // namespace gor::launcher
