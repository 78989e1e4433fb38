// The launch sequence of frmLaunch: shape the window, take the patch, download or
// straight-on road, start the updater and end; and the failure handler that names the stage.
#include "launcher/frm_launch.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "build_config.h"
#include "download/skip_step.h"
#include "launcher/base/paths.h"
#include "launcher/road/watchdog.h"
#include "launcher/shape_form.h"
#include "window/layout.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

constexpr const char* kRemotePath = "/gorupd.new";

// Pauses of the sequence, in seconds.
constexpr std::int16_t kPauseBeforePatch = 1;
constexpr std::int16_t kPauseBeforeRename = 2;
constexpr std::int16_t kPauseInitializing = 1;
constexpr std::int16_t kPauseAfterStart = 2;
constexpr std::int16_t kPauseAfterMissingUpdater = 2;
constexpr std::int16_t kPauseAfterMessage = 2;

constexpr const char* kMessageTitle = "Error Launching";

// The message names the stage the sequence had reached, not the failure itself.
const char* FirstPartOfMessage(std::int16_t stage) {
    switch (stage) {
        case 2:
            return "Error downloading new updater. Make sure you have sufficient permissions. "
                   "(Error: ";
        case 3:
            return "Error patching updater. Make sure you have sufficient permissions. (Error: ";
        case 4:
            return "Error starting updater. Make sure you have sufficient permissions. (Error: ";
        default:
            return "Gorvik Launcher Error. Make sure you have sufficient permissions. (Error: ";
    }
}

const char* ExitMeaning(ExitCode code) {
    switch (code) {
        case kExitStarted:
            return "the updater was started";
        case kExitNoUpdater:
            return "no updater arrived";
        case kExitFailure:
            return "the Error Launching box was shown";
        case kExitWatchdog:
            return "the watchdog ended the launch";
        case kExitStartFailed:
            return "the updater could not be started";
        case kExitOtherLauncher:
            return "another launcher runs in this folder";
        case kExitSetupFailed:
            return "setting up failed";
    }
    return "";
}

std::string VersionLine() {
    return Joined({std::to_string(build::kVersionMajor), ".", std::to_string(build::kVersionMinor),
                   ".", std::to_string(build::kVersionRevision)});
}

}  // namespace

frmLaunch::frmLaunch(LauncherPlatform platform)
    : GorDownload1(platform.loop.CreateSocket(), platform.files),
      loop_(platform.loop),
      window_(platform.window),
      files_(platform.files),
      process_(platform.process),
      log_(files_, loop_),
      hold_(files_, loop_, *this, log_, platform.checkUpdater, std::move(platform.publisher)),
      watchdog_(
          loop_, [this](const std::string& why) { Timer1_Timer(why); },
          [this] { return road_.received(); }),
      road_(GorDownload1, *this, loop_, files_, watchdog_, log_, *this, platform.proxy,
            std::move(platform.retryShare)) {
    GorDownload1.SetEventHost(this);
    GorDownload1.SetSkippedFailures(this);
}

frmLaunch::~frmLaunch() {
    GorDownload1.SetEventHost(nullptr);
    GorDownload1.SetSkippedFailures(nullptr);
}

// One trap covers the whole sequence; past the final existence test it is disarmed and a
// failing step is skipped instead (SkipOnFailure).
void frmLaunch::Form_Load() try {
    ClaimFolder();
    OpenLog();
    // An extra for screen readers, after the claim: its failure is logged, and costs nothing.
    SkipOnFailure(this, "setting up accessibility", [&] { window_.SetUpAccessibility(); });
    LaunchStep = 1;
    ShapeFormToPicture(window_, window::kTransparentColor);  // the region is the window's now
    AppDir = process_.AppPath();
    const std::string newUpdater = Joined({AppDir, kPathSeparator, "gorupd.new"});
    const std::string updater = Joined({AppDir, kPathSeparator, "gorupd.exe"});

    // The road is chosen from what the checks found: a broken patch (or, with a pin, one from
    // another publisher) never replaces anything, and such an updater is fetched anew. The
    // updater that passed is held from its check to its start by one handle, never closed and
    // opened again: on the patch and download roads with the removal its rename needs (the
    // rename goes through it), on the straight road for reading only. Only StartUpdater lets
    // go of it, once the updater exists and before it runs.
    // Where this user may not change the folder (a game under Program Files) no rename can be
    // made: gorupd.new is then held for reading, and the patch fails at its first change with
    // the patch's message, which asks for the permissions it needs.
    const platform::HoldFor patchHold =
        files_.IsProtected(newUpdater) ? platform::HoldFor::Reading : platform::HoldFor::Renaming;
    // With a pin, the publisher's check of a file found here runs during the pause that follows
    // (hold_.Judged): only a verdict against it changes the road then, and the captions follow.
    bool patching = hold_.Take(newUpdater, patchHold, UpdaterHold::Uncheckable::SkippedThisStart);
    if (patching) {
        LaunchStep = 3;
        lblStatus.Caption("Patching Updater");
        window_.Show();
        Pausetime(kPauseBeforePatch);
        patching = Verdict(1);
    }
    if (patching) {
        // A newer updater waits: it replaces the old one.
        log_.Line("road: patch (gorupd.new replaces gorupd.exe)");
        watchdog_.Start(Watchdog::Road::Patch);
        Pausetime(kPauseBeforeRename);
        NewFile = newUpdater;
        ExeFile = updater;
        hold_.Replace(FileNameOf(ExeFile));
    } else {
        LaunchStep = 2;
        if (hold_.Take(updater, platform::HoldFor::Reading, UpdaterHold::Uncheckable::FailsTheStep))
            log_.Line("road: straight on (gorupd.exe is in place)");
        else
            DownloadUpdater(updater);
    }

    Initializing();
    if (hold_.Judging() && !Verdict(2)) {
        // gorupd.exe was not the publisher's, and is gone: download one after all.
        DownloadUpdater(updater);
        Initializing();
    }

    ExitCode ending;
    if (hold_.Held()) {
        // Trap disarmed: nothing is reported from here on, not even a failing start.
        SkipOnFailure(this, "clearing the status line", [&] { lblStatus.Caption(""); });
        const bool started = SkipOnFailure(this, "starting gorupd.exe", [&] {
            StartUpdater(updater);
            log_.Line("started gorupd.exe");
        });
        SkipOnFailure(this, "the pause after the start", [&] { Pausetime(kPauseAfterStart); });
        ending = started ? kExitStarted : kExitStartFailed;
    } else {
        log_.Line("no updater: Error Downloading");
        lblStatus.ForeColor(window::kStatusFailureColor);
        lblStatus.Caption("Error Downloading");
        Pausetime(kPauseAfterMissingUpdater);
        ending = kExitNoUpdater;
    }
    End(ending);
} catch (const std::exception& failure) {
    log_.Line(Joined(
        {"failure at stage ", std::to_string(LaunchStep), ": ", LaunchLog::Failure(failure)}));
    LaunchFailed();
}

// No updater at all: download one.
void frmLaunch::DownloadUpdater(const std::string& updater) {
    LaunchStep = 2;
    log_.Line("road: download (no updater in the folder)");
    lblStatus.Caption("Downloading Updater");
    window_.Show();
    watchdog_.Start(Watchdog::Road::Download);
    FetchFile(kRemotePath, updater);
    Pausetime(kPauseAfterDownload);
    lblPercent.Visible(false);
}

void frmLaunch::Initializing() {
    LaunchStep = 4;
    lblStatus.Caption("Initializing");
    window_.Show();
    watchdog_.Stop();
    Pausetime(kPauseInitializing);
}

// The check began at the stage that found the file, and its failures are that stage's.
bool frmLaunch::Verdict(std::int16_t stage) {
    const std::int16_t pausing = std::exchange(LaunchStep, stage);
    const bool held = hold_.Judged();
    LaunchStep = pausing;
    return held;
}

// The first start owns its folder until it ends; a second one leaves everything to it, even
// its log, and ends at once. A folder that cannot be claimed either way is not shared: the
// launcher goes on as if it were the first. The claim comes before the log (a second launcher
// writes nothing), so its failure is told once the log is open.
void frmLaunch::ClaimFolder() {
    bool first = true;
    try {
        first = process_.ClaimFolder(process_.AppPath());
    } catch (const std::exception& failure) {
        claimFailure_ = Joined({"claiming the folder failed: ", LaunchLog::Failure(failure)});
    }
    if (!first) End(kExitOtherLauncher);
}

void frmLaunch::StepFailed(const char* step, const std::exception& failure) {
    log_.Line(Joined({step, " failed: ", LaunchLog::Failure(failure)}));
}

void frmLaunch::OpenLog() {
    std::string folder, unknown;
    try {
        folder = process_.AppPath();
    } catch (const std::exception& failure) {
        unknown = Joined({"the launcher's folder is unknown (", LaunchLog::Failure(failure), ")"});
    }
    // Before the log is open: a failure here has nowhere to be told.
    SkipOnFailure(nullptr, "opening the log", [&] {
        // A folder the player may not change (under Program Files) is where the roads fail by
        // Windows' rules: the player's own folder keeps that log, and its first line says why.
        if ((!unknown.empty() || !log_.Open(folder)) &&
            log_.Open(files_.PlayerDataFolder(kPlayerLogFolder)))
            log_.Line(unknown.empty()
                          ? Joined({folder, " cannot be written: the log is kept here instead"})
                          : Joined({unknown, ": the log is kept here instead"}));
    });
    log_.Line(Joined({"gorlaunch ", build::kVersionText, " in ", folder, ", update server ",
                      build::kUpdateHost}));
    if (!claimFailure_.empty()) log_.Line(claimFailure_);
}

// Not trapped: a failure here leaves Form_Load to its caller. Nothing will start now, so the
// updater is let go before the box, which may wait on the player for minutes.
void frmLaunch::LaunchFailed() {
    hold_.LetGo();
    const std::string text = Joined(
        {FirstPartOfMessage(LaunchStep), std::to_string(LaunchStep), ")\r\n", VersionLine()});
    log_.Line(Joined({"message box: ", std::string_view(text).substr(0, text.find('\r'))}));
    window_.MsgBox(text, kMessageTitle, platform::kMsgExclamationOk);
    Pausetime(kPauseAfterMessage);
    window_.Unload();
    End(kExitFailure);
}

// Only an updater that asks for administrator rights goes through the shell, which has
// Windows ask the user; every other start is the direct one. Only the direct start waits for a
// busy file, and only while it still holds the updater: a start tried again once the hold was
// let go would start, by its path, a file nobody holds or checked again; and a repeated start
// through the shell could ask the user again.
void frmLaunch::StartUpdater(const std::string& path) {
    // The direct start lets go of the hold once the updater exists, before it runs, so an
    // updater that opens, renames or replaces its own file at once never meets it. A failed
    // start lets go too.
    struct LetGo {
        UpdaterHold& hold;
        ~LetGo() { hold.LetGo(); }
    } letGo{hold_};
    try {
        WhileBusy("starting", path, [&] {
            try {
                process_.Start(path, platform::kNormalFocus, [this] { hold_.LetGo(); });
            } catch (const std::system_error& failure) {
                if (hold_.Held()) throw;
                throw std::runtime_error(Joined({LaunchLog::Failure(failure), ", once let go"}));
            }
        });
    } catch (const std::system_error& failure) {
        if (failure.code() != platform::kNeedsElevation) throw;
        log_.Line(Joined({FileNameOf(path), " asks for administrator rights (",
                          LaunchLog::Failure(failure), "): starting it through the shell"}));
        // The shell cannot start it suspended, and what the hold keeps out would meet it while
        // the user is asked (the consent prompt reads the file, and so may the elevated start):
        // it is let go first. Nothing it protects survives that call anyway.
        hold_.LetGo();
        process_.StartThroughShell(path, platform::kNormalFocus);
    }
}

void frmLaunch::End(ExitCode code) {
    log_.Line(Joined({"exit code ", std::to_string(code), ": ", ExitMeaning(code)}));
    process_.End(code);
    // Not reached: Process::End is [[noreturn]]. Should an implementation return all the same,
    // nothing of the sequence may run on after its end.
    std::terminate();
}

}  // namespace gor::launcher
