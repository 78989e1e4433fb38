// gorlaunch.log beside the launcher: why a start ended, one timestamped line per step, in plain
// text a support person can read. Rewritten at each start, the previous start's kept beside it,
// both bounded; a folder where it cannot be written costs nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/base/joined.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"

namespace gor::launcher {

// The log's file name, and the previous start's, in the folder that keeps them.
inline constexpr const char* kLogName = "gorlaunch.log";
inline constexpr const char* kOldLogName = "gorlaunch.old.log";
// The folder in the player's own data folder that keeps the log when the launcher's cannot.
inline constexpr const char* kPlayerLogFolder = "Gorvik Online";

// The log holds at most this many bytes; a last line says when later ones were dropped.
inline constexpr std::uint64_t kLogLimit = std::uint64_t{64} * 1024;

// A byte count in all its digits, as the log writes lengths.
std::string FormatLength(double bytes);

class LaunchLog {
  public:
    LaunchLog(platform::FileSystem& files, platform::EventLoop& clock)
        : files_(files), clock_(clock) {}

    // Starts a new log in `folder`; the previous start's log there becomes kOldLogName, in
    // place of the one before it. Never writes through a link: a log name that is a link or
    // has other names is removed and the log made anew. Never fails: returns false when the
    // log cannot be opened there, and the launcher goes on without it.
    bool Open(const std::string& folder);

    // Appends "[  12.345] text" (seconds since Open) and a line end. Never fails: a write that
    // fails ends the log.
    void Line(const std::string& text);

    // A failure as the log shows it: its text and, for a system error, its code.
    static std::string Failure(const std::exception& failure);

  private:
    platform::FileSystem& files_;
    platform::EventLoop& clock_;
    std::unique_ptr<platform::File> file_;
    double start_ = 0;
    std::uint64_t written_ = 0;
};

}  // namespace gor::launcher
