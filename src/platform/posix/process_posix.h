// The native process operations: the executable's folder, starting a program with
// posix_spawn (no shell, no waiting), and ending this one at once.
#pragma once

#include "platform/process.h"

namespace gor::platform::posix {

class ProcessPosix final : public Process {
  public:
    // Started programs are never waited for; their exit statuses are reaped automatically.
    ProcessPosix();

    std::string AppPath() override;
    // The path is the program and its only argument word: no shell ever splits it. The window
    // style has no meaning here. A path that cannot be executed throws std::system_error.
    void Start(const std::string& exePath, int windowStyle) override;
    // Flushes standard output and exits with `exitCode` without running destructors.
    [[noreturn]] void End(int exitCode) override;
};

}  // namespace gor::platform::posix
