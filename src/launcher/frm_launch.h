// frmLaunch: the launcher window's logic. Form_Load makes sure the updater is
// present and current (patch, download or straight on), starts it and ends the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/gor_download.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/launcher_window.h"
#include "platform/process.h"

namespace gor::launcher {

// How the program ends (the process exit code).
enum ExitCode : int {
    kExitStarted = 0,       // the updater was started
    kExitNoUpdater = 1,     // "Error Downloading": no updater arrived
    kExitFailure = 2,       // the "Error Launching" box was shown
    kExitWatchdog = 3,      // "Terminating": the watchdog ended a download or patch
    kExitStartFailed = 4,   // the updater exists but could not be started
};

// What the launcher needs of the operating system; all outlive the form.
struct LauncherPlatform {
    platform::EventLoop& loop;
    platform::LauncherWindow& window;
    platform::FileSystem& files;
    platform::Process& process;
};

class frmLaunch : private download::GorDownloadEvents {
public:
    explicit frmLaunch(LauncherPlatform platform);
    ~frmLaunch() override;

    // The launch sequence. Never returns: every road ends the program.
    [[noreturn]] void Form_Load();

    // Waits `Length` seconds while dispatching window events (sleeping between them).
    void Pausetime(std::int16_t Length);
    // True when a file matching `File` and the attribute mask `FileType` exists.
    bool FileExist(const std::string& File, std::int32_t FileType);

    // Window fields, readable for diagnostics and tests.
    std::int16_t LaunchStep = 0;
    std::int16_t DownloadWait = 0;
    std::int16_t Percent = 0;
    std::string AppDir, NewFile, ExeFile;

    download::GorDownload GorDownload1;

private:
    // (the launcher's implementer owns what follows)
};

}  // namespace gor::launcher
