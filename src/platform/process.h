// Starting another program and ending this one.
#pragma once

#include <functional>
#include <string>
#include <system_error>

namespace gor::platform {

// Window style of a started program: 1 is a normal window that receives the focus.
inline constexpr int kNormalFocus = 1;

// What a failed Start compares equal to when the program asks for administrator rights
// (Windows' ERROR_ELEVATION_REQUIRED): it can be started only through StartThroughShell.
inline constexpr std::errc kNeedsElevation = std::errc::operation_not_permitted;

class Process {
  public:
    virtual ~Process() = default;

    // The folder holding the running executable, without a trailing separator.
    virtual std::string AppPath() = 0;

    // Claims `folder` for this process until it ends, a crash included, so that one launcher
    // runs per folder (no other path to the same folder makes another one). Returns false
    // when another live launcher of this program holds it; that one's window, or its message
    // box, is then brought to the front. A claim left or made by anything else is taken over.
    // Touches no file. Throws std::system_error when it cannot tell.
    virtual bool ClaimFolder(const std::string& folder) = 0;

    // Starts the program at `exePath` without arguments, in its own folder (the working folder
    // is the one that holds it), and without waiting for it. The path is handed over so that
    // no part of it can be taken for another program (a folder with spaces never starts
    // "C:\Program.exe"). The program is made suspended: `letGo` runs once it exists and before
    // it runs its first instruction (the caller closes its hold on the file there, so the
    // program never meets it); `letGo` must not throw, and is not run when the start fails. Throws
    // std::system_error; see kNeedsElevation.
    virtual void Start(const std::string& exePath, int windowStyle,
                       const std::function<void()>& letGo) = 0;

    // Starts it as the desktop's shell does, so that Windows asks the user's consent for a
    // program that needs administrator rights; otherwise as Start. The shell cannot start a
    // program suspended: it runs before this returns. A declined consent throws
    // std::system_error comparing equal to std::errc::operation_canceled.
    virtual void StartThroughShell(const std::string& exePath, int windowStyle) = 0;

    // Ends the program at once with `exitCode`: no further events are handled and the
    // window is destroyed. Test doubles throw instead of exiting.
    [[noreturn]] virtual void End(int exitCode) = 0;
};

}  // namespace gor::platform
