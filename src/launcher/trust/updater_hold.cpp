// UpdaterHold: opening, judging, renaming and letting go of the updater through one handle.
#include "launcher/trust/updater_hold.h"

#include <exception>
#include <string>
#include <system_error>
#include <utility>

#include "download/body_framing.h"
#include "launcher/base/paths.h"

namespace gor::launcher {

namespace {

// The sequence's existence tests also accept a read-only updater.
constexpr std::uint32_t kAnyUpdater = platform::kAttrReadOnly;
// How often a wait for a check looks again should its end never be posted (the loop full).
constexpr double kCheckLookSeconds = 0.1;

}  // namespace

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind(kPathSeparator) + 1);
}

UpdaterHold::UpdaterHold(platform::FileSystem& files, platform::EventLoop& loop, WindowWaits& waits,
                         LaunchLog& log, UpdaterCheck checkUpdater,
                         std::shared_ptr<PublisherCheck> publisher)
    : files_(files),
      loop_(loop),
      waits_(waits),
      log_(log),
      checkUpdater_(checkUpdater),
      publisher_(std::move(publisher)) {}

// A file the sequence would take for an updater but that is not one to start (cut short, an
// error page, empty, or with a pin not the publisher's) is removed, so the road is chosen as if
// it were absent. One that cannot be removed fails the step; so does one that cannot be opened,
// read or checked, unless such a file is to be skipped this start (a gorupd.new: the working
// gorupd.exe starts instead, and the file stays for a later start).
bool UpdaterHold::Take(const std::string& path, platform::HoldFor purpose,
                       Uncheckable uncheckable) {
    if (!files_.FindFile(path, kAnyUpdater)) return false;
    try {
        Open(path, purpose);
        if (IsWhole(download::kUnknownLength)) {
            if (publisher_) BeginCheck(uncheckable);
            return true;
        }
    } catch (const std::exception& failure) {
        NotChecked(failure, uncheckable);
        return false;
    }
    Remove(path);
    return false;
}

// The check owns what it touches, the held file and the publisher's check among them: the
// program may end (a failure's message) while it still runs.
void UpdaterHold::BeginCheck(Uncheckable uncheckable) {
    auto check = std::make_shared<Check>();
    check->uncheckable = uncheckable;
    pending_ = check;
    try {
        loop_.RunOffLoop(
            [check, held = held_, publisher = publisher_, path = path_] {
                try {
                    check->verdict = publisher->Check(*held, path);
                } catch (...) {
                    check->failure = std::current_exception();
                }
                check->ran = true;
                check->finished = true;
            },
            [check] { check->posted = true; });
    } catch (const std::system_error&) {
        check->finished = true;  // no thread: Judged checks on the loop's thread
    }
}

// A check that could not run on its thread is tried again here while the file is busy, as
// every file step is.
bool UpdaterHold::Judged() {
    if (!pending_) return Held();
    const std::shared_ptr<Check> check = std::exchange(pending_, nullptr);
    while (!check->finished) waits_.WaitUntil(loop_.Now() + kCheckLookSeconds, &check->posted);
    try {
        PublisherVerdict signer = check->verdict;
        std::exception_ptr failure = check->failure;
        if (!check->ran || failure) {
            waits_.WhileBusy("checking", path_, [&] {
                if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
                signer = publisher_->Check(*held_, path_);
            });
        }
        if (Signed(signer)) return true;
    } catch (const std::exception& failure) {
        NotChecked(failure, check->uncheckable);
        return false;
    }
    Remove(path_);
    return false;
}

bool UpdaterHold::TakeDownload(const std::string& path, double announcedLength) {
    try {
        Open(path, platform::HoldFor::Renaming);
        if (IsWhole(announcedLength)) {
            if (!publisher_) return true;
            PublisherVerdict signer;
            waits_.WhileBusy("checking", path_, [&] { signer = publisher_->Check(*held_, path_); });
            if (Signed(signer)) return true;
        }
    } catch (...) {
        LetGo();
        throw;
    }
    LetGo();
    return false;
}

void UpdaterHold::Open(const std::string& path, platform::HoldFor purpose) {
    LetGo();
    path_ = path;
    waits_.WhileBusy("opening", path, [&] { held_ = files_.Hold(path, purpose); });
}

bool UpdaterHold::IsWhole(double announcedLength) {
    platform::FileHead head;
    waits_.WhileBusy("reading", path_, [&] { head = held_->ReadHead(kImageHeadBytes); });
    ImageVerdict verdict;
    if (announcedLength != download::kUnknownLength &&
        static_cast<double>(head.size) != announcedLength) {
        verdict.reason = Joined({std::to_string(head.size), " bytes, not the ",
                                 FormatLength(announcedLength), " announced"});
    } else {
        verdict = checkUpdater_(head.bytes, head.size);
    }
    log_.Line(Joined(
        {FileNameOf(path_), verdict.whole ? " is whole: " : " is not whole: ", verdict.reason}));
    return verdict.whole;
}

// Anyone who can answer in the update server's place, or put a file in the folder, could have
// a program of theirs started: with a pin, only the publisher's signature lets an updater in.
// Only a verdict on the file's content refuses it: a check that cannot run fails the step like
// any file step (after waiting while the file is busy), and the file stays.
bool UpdaterHold::Signed(const PublisherVerdict& signer) {
    log_.Line(
        Joined({FileNameOf(path_),
                signer.pinned ? " is signed by the publisher " : " is not from the publisher: ",
                signer.reason}));
    return signer.pinned;
}

// Called while `failure` is being handled: rethrown when it fails the step.
void UpdaterHold::NotChecked(const std::exception& failure, Uncheckable uncheckable) {
    LetGo();
    if (uncheckable == Uncheckable::FailsTheStep) throw;
    log_.Line(Joined({FileNameOf(path_), " cannot be checked: ", LaunchLog::Failure(failure),
                      "; kept, and skipped this start"}));
}

void UpdaterHold::Remove(const std::string& path) {
    LetGo();  // closed, so that it can be removed
    waits_.WhileBusy("removing", path, [&] { files_.Remove(path); });
    log_.Line(Joined({"removed ", FileNameOf(path)}));
}

// Rename never replaces: a file at the new name fails it. A file that could not be renamed is
// no updater to start, and is let go.
void UpdaterHold::Rename(const std::string& fileName) {
    Name(fileName, false);
}

// The old updater goes in the same step that names the new one: whatever fails, or wherever the
// start ends, one of them is gorupd.exe. The wait is for the old one, which may still be closing
// or running.
void UpdaterHold::Replace(const std::string& fileName) {
    Name(fileName, true);
}

void UpdaterHold::Name(const std::string& fileName, bool replacing) {
    const std::string from = FileNameOf(path_);
    const std::string to =
        Joined({std::string_view(path_).substr(0, path_.size() - from.size()), fileName});
    try {
        if (replacing)
            waits_.WhileBusy("replacing", to, [&] { held_->Replace(fileName); });
        else
            waits_.WhileBusy("renaming", path_, [&] { held_->Rename(fileName); });
    } catch (...) {
        LetGo();
        throw;
    }
    path_ = to;
    log_.Line(Joined({from, " renamed to ", fileName}));
}

void UpdaterHold::LetGo() noexcept {
    held_.reset();
    pending_.reset();
}

}  // namespace gor::launcher
