// A process for unit tests: a fixed program folder (claimed, or held by another launcher),
// starts noted on the timeline (or refused), and an End that notes its code and unwinds the
// test's run with ProgramEnded.
#pragma once

#include <cerrno>
#include <functional>
#include <string>
#include <system_error>
#include <utility>

#include "fakes/virtual_clock_loop.h"
#include "platform/process.h"

namespace gor::test {

// The program ended with `code`. Deliberately not a std::exception: the launcher's traps
// catch failures, and the end of the program is none.
struct ProgramEnded {
    int code;
};

class FakeProcess : public platform::Process {
  public:
    explicit FakeProcess(Timeline& timeline, std::string appPath = "/games/gorvik")
        : timeline_(timeline), appPath_(std::move(appPath)) {}

    bool startFails = false;       // e.g. the updater is no valid executable
    int failsOnceLetGo = 0;        // an errno the start fails with after its letGo ran
    bool needsElevation = false;   // only the shell can start it
    bool consentDeclined = false;  // the user says no to the shell's prompt
    bool folderTaken = false;      // another launcher runs in the folder
    std::string claimedFolder;
    std::function<void()> atStart, afterLetGo;  // at a start: before and after the hold goes

    std::string AppPath() override {
        faults.Call("process.AppPath", "", std::errc::filename_too_long);
        return appPath_;
    }
    bool ClaimFolder(const std::string& folder) override {
        faults.Call("process.ClaimFolder", folder, std::errc::permission_denied);
        claimedFolder = folder;
        return !folderTaken;
    }
    void Start(const std::string& exePath, int windowStyle,
               const std::function<void()>& letGo) override {
        faults.Call("process.Start", exePath, std::errc::permission_denied);
        if (startFails) throw std::system_error(ENOEXEC, std::generic_category(), exePath);
        if (needsElevation) throw std::system_error(make_error_code(platform::kNeedsElevation));
        if (atStart) atStart();
        letGo();
        if (afterLetGo) afterLetGo();
        if (failsOnceLetGo) throw std::system_error(failsOnceLetGo, std::generic_category());
        timeline_.Note("start " + exePath + " style=" + std::to_string(windowStyle));
    }
    void StartThroughShell(const std::string& exePath, int windowStyle) override {
        if (atStart) atStart();
        if (consentDeclined) throw std::system_error(ECANCELED, std::generic_category(), exePath);
        timeline_.Note("shell start " + exePath + " style=" + std::to_string(windowStyle));
    }
    [[noreturn]] void End(int exitCode) override {
        timeline_.Note("end " + std::to_string(exitCode));
        throw ProgramEnded{exitCode};
    }

  private:
    Timeline& timeline_;
    std::string appPath_;
};

}  // namespace gor::test
