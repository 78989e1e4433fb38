// frmLaunch: the launcher window's logic. Form_Load makes sure the updater is
// present and current (patch, download or straight on), starts it and ends the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "download/gor_download.h"
#include "launcher/base/launch_log.h"
#include "launcher/road/download_road.h"
#include "launcher/road/watchdog.h"
#include "launcher/trust/executable_image.h"
#include "launcher/trust/publisher.h"
#include "launcher/trust/updater_hold.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/launcher_window.h"
#include "platform/process.h"
#include "platform/system_proxy.h"

namespace gor::launcher {

// How the program ends (the process exit code).
enum ExitCode : int {
    kExitStarted = 0,        // the updater was started
    kExitNoUpdater = 1,      // "Error Downloading": no updater arrived
    kExitFailure = 2,        // the "Error Launching" box was shown
    kExitWatchdog = 3,       // "Terminating": the watchdog ended a download or patch
    kExitStartFailed = 4,    // the updater exists but could not be started
    kExitOtherLauncher = 5,  // another launcher runs in this folder; nothing was done
    // Setting up failed before the box could tell it (WinSock, the window, the failure
    // handler itself, an exception nothing caught); nothing is shown, and the log keeps only
    // what it had written before.
    kExitSetupFailed = 6,
};

// After a download, the sequence pauses this long, in seconds, before it stops the watchdog.
inline constexpr std::int16_t kPauseAfterDownload = 4;

// What the launcher needs of the operating system; all outlive the form.
struct LauncherPlatform {
    platform::EventLoop& loop;
    platform::LauncherWindow& window;
    platform::FileSystem& files;
    platform::Process& process;
    // The updater is a Windows program; the native build starts native ones instead.
    UpdaterCheck checkUpdater = CheckExecutableImage;
    // Who must have signed an updater to install (publisher.h); none: nothing is checked.
    std::shared_ptr<PublisherCheck> publisher;
    // The system's proxy settings; none: every request goes direct.
    platform::SystemProxy* proxy = nullptr;
    // Where the spread of the pauses between a download's tries comes from.
    RandomShare retryShare = ProcessRandomShare;
};

// The form is GorDownload1's event host: its handlers stay private, but anything may hold
// it as a GorDownloadEvents (the control does, and so do tests that speak as the control).
class frmLaunch : public download::GorDownloadEvents,
                  private download::SkippedFailures,
                  private RoadWindow {
  public:
    explicit frmLaunch(LauncherPlatform platform);
    ~frmLaunch() override;

    // The launch sequence. Never returns: every road ends the program.
    [[noreturn]] void Form_Load();

    // Waits `Length` seconds while dispatching window events (sleeping between them).
    void Pausetime(std::int16_t Length);
    // True when a file matching `File` and the attribute mask `FileType` exists.
    bool FileExist(const std::string& File, std::int32_t FileType);
    // Fetches the file through GorDownload1 and the road (download_road.h), waiting on
    // DownloadWait for each try.
    void FetchFile(const std::string& RemotePath, const std::string& LocalFile);

    // Window fields, readable for diagnostics and tests.
    std::int16_t LaunchStep = 0;
    std::int16_t DownloadWait = 0;
    std::int16_t Percent = 0;
    std::string AppDir, NewFile, ExeFile;

    download::GorDownload GorDownload1;

  private:
    // The window's two labels under the names the sequence and the handlers use.
    struct StatusLabel {
        platform::LauncherWindow& window;
        void Caption(const std::string& text) { window.SetStatusCaption(text); }
        void ForeColor(std::uint32_t colorRef) { window.SetStatusForeColor(colorRef); }
    };
    struct PercentLabel {
        platform::LauncherWindow& window;
        void Caption(const std::string& text) { window.SetPercentCaption(text); }
        void Visible(bool visible) { window.SetPercentVisible(visible); }
    };

    // Ends at once when another launcher already runs in this folder.
    void ClaimFolder();
    // The download road: "Downloading Updater", the fetch, its pause, the percentage hidden.
    void DownloadUpdater(const std::string& updater);
    // "Initializing", the watchdog stopped, and the pause before the start.
    void Initializing();
    // The publisher's verdict on the held file (UpdaterHold::Judged); a failure of it is the
    // failure of `stage`, the stage that began the check.
    bool Verdict(std::int16_t stage);
    // The failure handler of Form_Load's trap: the message chosen by LaunchStep, then the end.
    [[noreturn]] void LaunchFailed();
    // Ends the program at once with `code`.
    [[noreturn]] void End(ExitCode code);
    // Starts gorlaunch.log beside the launcher, or in the player's own folder where the
    // launcher's cannot be written.
    void OpenLog();
    // A skipped step's failure, here or inside GorDownload1: "<step> failed: ..." in the log.
    void StepFailed(const char* step, const std::exception& failure) override;

    // Runs a file step on `path`. While it fails in a way that passes by itself (busy_files.h)
    // it is tried again after a pause in which events are dispatched (the watchdog still
    // rules), one log line per retry. Any other failure, and one that outlasts the budget, is
    // thrown as it came.
    void WhileBusy(const char* what, const std::string& path,
                   const std::function<void()>& step) override;
    // Dispatches events until the clock reaches `deadline`, or until `ended` (when given) is
    // set by a handler.
    void WaitUntil(double deadline, const bool* ended = nullptr) override;
    // One try of the road: DownloadWait marks it pending, and the wait looks at it once a step.
    void AwaitTry(const std::function<void()>& start) override;

    void RemoveFile(const std::string& File);
    // Starts the updater, one that asks for administrator rights through the shell. The hold
    // (hold_) is let go once the updater exists and before it runs (Process::Start); through
    // the shell, before the start. A start that fails once the hold was let go is not tried
    // again. The started program's image keeps the file.
    void StartUpdater(const std::string& path);
    void Timer1_Timer(const std::string& why);
    // The watchdog's ending: "Terminating" in red at once, then on the download road the
    // transfer stopped and its partial file removed, 2 s, the end. `why` goes to the log.
    [[noreturn]] void Terminate(const std::string& why);

    void GorDownload1_Progress(double downloaded, double Total);
    void ShowProgress(double downloaded, double Total);
    void GorDownload1_downloaded(const std::string& dfile);
    void GorDownload1_DownloadError(const std::string& description, bool SERVER_ERROR);
    void GorDownload1_headerread();
    void GorDownload1_Disconnected();
    // Moves the finished body from its partial file to the file FetchFile was asked for.
    void MovePartialIntoPlace();

    // GorDownload1's events, each handed to its GorDownload1_ handler.
    void Progress(double downloaded, double Total) override;
    void downloaded(const std::string& dfile) override;
    void DownloadError(const std::string& description, bool SERVER_ERROR) override;
    void headerread() override;
    void Disconnected() override;

    platform::EventLoop& loop_;
    platform::LauncherWindow& window_;
    platform::FileSystem& files_;
    platform::Process& process_;
    LaunchLog log_;
    // The updater that will start, held by one handle from its check (or its download's)
    // through its rename until its start.
    UpdaterHold hold_;
    std::string claimFailure_;  // why the folder could not be claimed, for the log once open

    StatusLabel lblStatus{window_};
    PercentLabel lblPercent{window_};
    Watchdog watchdog_;  // Timer1 and its rule

    DownloadRoad road_;  // the whole fetch: its files, routes, retries, resumes, their log
};

}  // namespace gor::launcher
