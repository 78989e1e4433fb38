// gorlaunch.log: opened and cut at each start after the previous one is set aside, never
// through a link, one line per step, bounded.
#include "launcher/base/launch_log.h"

#include <cmath>
#include <string>
#include <system_error>

#include "download/number_rule.h"
#include "download/skip_step.h"
#include "launcher/base/paths.h"

namespace gor::launcher {

using download::SkipOnFailure;

namespace {

// Windows line ends: the log is read in Notepad.
constexpr const char* kLineEnd = "\r\n";
constexpr const char* kLogFull = "log full: later lines dropped";

// "[   1.234] ": the seconds since the log was opened, to the millisecond, right-aligned in
// eight places. (Not printf: it would link a formatting library into the exe.)
std::string Stamp(double seconds) {
    constexpr std::size_t kWidth = 8;
    const auto ms = static_cast<long long>(std::nearbyint(seconds * 1000));
    const std::string fraction = std::to_string(ms % 1000);
    std::string number =
        Joined({std::to_string(ms / 1000), ".", std::string(3 - fraction.size(), '0'), fraction});
    if (number.size() < kWidth) number.insert(0, kWidth - number.size(), ' ');
    return Joined({"[", number, "] "});
}

}  // namespace

bool LaunchLog::Open(const std::string& folder) {
    file_.reset();
    written_ = 0;
    start_ = clock_.Now();
    const std::string path = folder + kPathSeparator + kLogName;
    // The log cannot tell its own failures: there is nowhere to record them. The previous
    // start's log is kept for support, who often asks only after the player tried again.
    SkipOnFailure(nullptr, "keeping the previous log", [&] {
        if (!files_.FindFile(path, platform::kAttrReadOnly)) return;
        const std::string old = folder + kPathSeparator + kOldLogName;
        if (files_.FindFile(old, platform::kAttrReadOnly)) files_.Remove(old);
        files_.Hold(path, platform::HoldFor::Renaming)->Rename(kOldLogName);
    });
    // Checked through the handle that cuts it, so nothing can step in between: a name that
    // is a link, or one of several names of a file, reaches bytes that may be anybody's (in a
    // folder other users may write). Such a name goes, which leaves what it reaches alone, and
    // the log starts anew under it, once; else the caller's fallback keeps the log.
    return SkipOnFailure(nullptr, "opening the log", [&] {
        auto file = files_.OpenReadWriteNoFollow(path);
        if (!file->IsPlainFile()) {
            file.reset();
            files_.Remove(path);
            file = files_.OpenReadWriteNoFollow(path);
            if (!file->IsPlainFile())
                throw std::system_error(
                    std::make_error_code(std::errc::too_many_symbolic_link_levels), path);
        }
        file->Truncate(0);  // whatever is left of a log that could not be set aside
        file_ = std::move(file);
    });
}

void LaunchLog::Line(const std::string& text) {
    if (!file_) return;
    const std::string stamp = Stamp(clock_.Now() - start_);
    std::string line = stamp + text + kLineEnd;
    const std::string last = stamp + kLogFull + kLineEnd;
    // Room is kept for the line that says the log is full.
    if (written_ + line.size() + last.size() > kLogLimit) line = last;
    const bool wrote = SkipOnFailure(nullptr, "writing the log", [&] { file_->Write(line); });
    written_ += line.size();
    if (!wrote || line == last) {
        SkipOnFailure(nullptr, "closing the log", [&] { file_->Close(); });
        file_.reset();
    }
}

// Without printf, which would link a formatting library into the exe. A length past 64 bits,
// which only a lying header announces, or no finite number, is written as the number rule
// writes it (the cast would be undefined).
std::string FormatLength(double bytes) {
    const double whole = std::nearbyint(bytes);
    if (std::fabs(whole) < 0x1p63) return std::to_string(static_cast<long long>(whole));
    return download::NumberText(bytes);
}

std::string LaunchLog::Failure(const std::exception& failure) {
    std::string text = failure.what();
    if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
        const std::string code = std::to_string(system->code().value());
        // The Windows layer's texts already end in their code: "Access is denied (5)".
        if (text.find(Joined({"(", code, ")"})) == std::string::npos)
            text += Joined({" (error ", code, ")"});
    }
    return text;
}

}  // namespace gor::launcher
