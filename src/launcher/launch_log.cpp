// gorlaunch.log: opened and cut at each start, one line per step, bounded.
#include "launcher/launch_log.h"

#include <cstdio>
#include <system_error>

#include "download/skip_step.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

// Windows line ends: the log is read in Notepad.
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kLogFull = "log full: later lines dropped";

}  // namespace

void LaunchLog::Open(const std::string& path) {
    file_.reset();
    written_ = 0;
    start_ = clock_.Now();
    SkipOnFailure([&] {
        auto file = files_.OpenReadWrite(path);
        file->Truncate(0);  // the previous start's log goes
        file_ = std::move(file);
    });
}

void LaunchLog::Line(const std::string& text) {
    if (!file_) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f] ", clock_.Now() - start_);
    std::string line = stamp + text + kLineEnd;
    const std::string last = std::string(stamp) + kLogFull + kLineEnd;
    // Room is kept for the line that says the log is full.
    if (written_ + line.size() + last.size() > kLogLimit) line = last;
    const bool wrote = SkipOnFailure([&] { file_->Write(line); });
    written_ += line.size();
    if (!wrote || line == last) {
        SkipOnFailure([&] { file_->Close(); });
        file_.reset();
    }
}

std::string LaunchLog::Failure(const std::exception& failure) {
    std::string text = failure.what();
    if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
        const std::string code = std::to_string(system->code().value());
        // The Windows layer's texts already end in their code: "Access is denied (5)".
        if (text.find("(" + code + ")") == std::string::npos) text += " (error " + code + ")";
    }
    return text;
}

}  // namespace gor::launcher
