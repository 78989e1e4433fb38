// UpdaterHold: opening, judging, renaming and letting go of the updater through one handle.
#include "launcher/updater_hold.h"

#include <exception>
#include <string>
#include <utility>

#include "download/body_framing.h"
#include "launcher/paths.h"

namespace gor::launcher {

namespace {

// The sequence's existence tests also accept a read-only updater.
constexpr std::uint32_t kAnyUpdater = platform::kAttrReadOnly;

}  // namespace

std::string FileNameOf(const std::string& path) {
    return path.substr(path.rfind(kPathSeparator) + 1);
}

UpdaterHold::UpdaterHold(platform::FileSystem& files, BusyWaiter& waiter, LaunchLog& log,
                         UpdaterCheck checkUpdater, std::shared_ptr<PublisherCheck> publisher)
    : files_(files),
      waiter_(waiter),
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
        if (IsAcceptable(download::kUnknownLength)) return true;
    } catch (const std::exception& failure) {
        LetGo();
        if (uncheckable == Uncheckable::FailsTheStep) throw;
        log_.Line(FileNameOf(path) + " cannot be checked: " + LaunchLog::Failure(failure) +
                  "; kept, and skipped this start");
        return false;
    }
    LetGo();  // closed, so that it can be removed
    waiter_.WhileBusy("removing", path, [&] { files_.Remove(path); });
    log_.Line("removed " + FileNameOf(path));
    return false;
}

bool UpdaterHold::TakeDownload(const std::string& path, double announcedLength) {
    try {
        Open(path, platform::HoldFor::Renaming);
        if (IsAcceptable(announcedLength)) return true;
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
    waiter_.WhileBusy("opening", path, [&] { held_ = files_.Hold(path, purpose); });
}

// Anyone who can answer in the update server's place, or put a file in the folder, could have
// a program of theirs started: with a pin, only the publisher's signature lets an updater in.
// Only a verdict on the file's content refuses it: a check that cannot run fails the step like
// any file step (after waiting while the file is busy), and the file stays.
bool UpdaterHold::IsAcceptable(double announcedLength) {
    platform::FileHead head;
    waiter_.WhileBusy("reading", path_, [&] { head = held_->ReadHead(kImageHeadBytes); });
    ImageVerdict verdict;
    if (announcedLength != download::kUnknownLength &&
        static_cast<double>(head.size) != announcedLength) {
        verdict.reason = std::to_string(head.size) + " bytes, not the " +
                         FormatLength(announcedLength) + " announced";
    } else {
        verdict = checkUpdater_(head.bytes, head.size);
    }
    log_.Line(FileNameOf(path_) + (verdict.whole ? " is whole: " : " is not whole: ") +
              verdict.reason);
    if (!verdict.whole || !publisher_) return verdict.whole;

    PublisherVerdict signer;
    waiter_.WhileBusy("checking", path_, [&] { signer = publisher_->Check(*held_, path_); });
    log_.Line(FileNameOf(path_) +
              (signer.pinned ? " is signed by the publisher " : " is not from the publisher: ") +
              signer.reason);
    return signer.pinned;
}

// Rename never replaces: a file at the new name fails it. A file that could not be renamed is
// no updater to start, and is let go.
void UpdaterHold::Rename(const std::string& fileName) {
    try {
        waiter_.WhileBusy("renaming", path_, [&] { held_->Rename(fileName); });
    } catch (...) {
        LetGo();
        throw;
    }
    const std::string from = FileNameOf(path_);
    path_ = path_.substr(0, path_.size() - from.size()) + fileName;
    log_.Line(from + " renamed to " + fileName);
}

void UpdaterHold::LetGo() noexcept {
    held_.reset();
}

}  // namespace gor::launcher
