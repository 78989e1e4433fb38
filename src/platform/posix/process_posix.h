// The native process operations: the executable's folder and the claim on it, starting a
// program with posix_spawn (no shell, no waiting), and ending this one at once.
#pragma once

#include "platform/process.h"

namespace gor::platform::posix {

class ProcessPosix final : public Process {
  public:
    // Started programs are never waited for; their exit statuses are reaped automatically.
    ProcessPosix();

    std::string AppPath() override;
    // An exclusive flock() on the folder itself. Another launcher's window is a console here:
    // there is nothing to bring to the front.
    bool ClaimFolder(const std::string& folder) override;
    // The path is the program and its only argument word: no shell ever splits it. The window
    // style has no meaning here. A path that cannot be executed throws std::system_error.
    void Start(const std::string& exePath, int windowStyle,
               const std::function<void()>& letGo) override;
    void StartThroughShell(const std::string& exePath, int windowStyle) override;
    // Flushes standard output and exits with `exitCode` without running destructors.
    [[noreturn]] void End(int exitCode) override;

  private:
    int claim_ = -1;  // the locked folder, open until the process ends
};

}  // namespace gor::platform::posix
