// Starting another program and ending this one.
#pragma once

#include <string>

namespace gor::platform {

// Window style of a started program: 1 is a normal window that receives the focus.
inline constexpr int kNormalFocus = 1;

class Process {
  public:
    virtual ~Process() = default;

    // The folder holding the running executable, without a trailing separator.
    virtual std::string AppPath() = 0;

    // Starts the program at `exePath` without arguments and without waiting for it.
    // The path is handed over so that no part of it can be taken for another program
    // (a folder with spaces never starts "C:\Program.exe"). Throws std::system_error.
    virtual void Start(const std::string& exePath, int windowStyle) = 0;

    // Ends the program at once with `exitCode`: no further events are handled and the
    // window is destroyed. Test doubles throw instead of exiting.
    [[noreturn]] virtual void End(int exitCode) = 0;
};

}  // namespace gor::platform
