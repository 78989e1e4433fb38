// UpdaterHold: the one handle on the updater that will start, from its open through its check,
// its rename and its start, so that the file that starts is the file that was checked.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/base/busy_files.h"
#include "launcher/base/launch_log.h"
#include "launcher/trust/executable_image.h"
#include "launcher/trust/publisher.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"

namespace gor::launcher {

// Decides whether a file (its first bytes and its size) is a whole program of the kind the
// platform starts; see executable_image.h.
using UpdaterCheck = ImageVerdict (*)(std::string_view head, std::uint64_t fileSize);

// "gorupd.exe" of a path in the launcher's folder, for the log.
std::string FileNameOf(const std::string& path);

// Holds at most one file at a time. Every file step waits while the file is busy (busy_files.h).
// The publisher's check of a file found in the folder runs on a helper thread, on the same
// handle, while the window pauses: the loop's thread touches the held file again only once
// Judged has its verdict.
class UpdaterHold {
  public:
    // What a file that cannot be opened or checked at all does to the road.
    enum class Uncheckable {
        FailsTheStep,      // the step's failure, the file kept
        SkippedThisStart,  // taken as absent this start, the file kept; logged
    };

    // All outlive the hold. `publisher` may be null: nothing is pinned.
    UpdaterHold(platform::FileSystem& files, platform::EventLoop& loop, WindowWaits& waits,
                LaunchLog& log, UpdaterCheck checkUpdater,
                std::shared_ptr<PublisherCheck> publisher);

    // Holds the updater found at `path` for `purpose` when it is a whole image and returns
    // true; one that is not is removed. False when there is none (left). With a pin, the
    // publisher's check begins off the event loop, and Judged gives its verdict.
    bool Take(const std::string& path, platform::HoldFor purpose, Uncheckable uncheckable);
    // Whether a publisher's verdict on the held file is still to be taken.
    bool Judging() const { return pending_ != nullptr; }
    // Waits, dispatching events, for the publisher's verdict on the file Take holds, and
    // returns whether it is held still: one the publisher did not sign is removed, one whose
    // check cannot run is treated as Take was told. At once when nothing is pinned.
    bool Judged();
    // Holds a download's finished body at `path` for its rename when it is acceptable, of
    // `announcedLength` bytes unless that is download::kUnknownLength; one that is not is left
    // where it is. A file that cannot be opened or checked throws.
    bool TakeDownload(const std::string& path, double announcedLength);
    // Gives the held file the name `fileName` in its folder, through the hold; logged.
    void Rename(const std::string& fileName);
    // The same in place of the file that has that name, in one step: whatever fails, one of the
    // two keeps it. Waits while that file is busy (an old updater still closing or running).
    void Replace(const std::string& fileName);
    bool Held() const { return held_ != nullptr; }
    // Closes the hold; nothing is held afterwards. Never throws.
    void LetGo() noexcept;

  private:
    // Opens the file at `path` to hold it for `purpose`.
    void Open(const std::string& path, platform::HoldFor purpose);
    // The one rule for an updater to install or start is in two parts. This is the first: a
    // program the platform can run, of `announcedLength` bytes when that is known. The verdict
    // and its reason go to the log. A file that cannot be read throws.
    bool IsWhole(double announcedLength);
    // The second, with a pin: the publisher signed it. Logs the verdict, and returns it.
    bool Signed(const PublisherVerdict& signer);
    // A file that could not be opened or checked, as `uncheckable` says: the failure being
    // handled rethrown, or the file let go and skipped this start, logged.
    void NotChecked(const std::exception& failure, Uncheckable uncheckable);
    // Rename or Replace, logged alike.
    void Name(const std::string& fileName, bool replacing);
    // Removes the file at `path`, once let go; logged.
    void Remove(const std::string& path);

    // A check on its helper thread: what it found, written there before `done` is posted.
    struct Check {
        Uncheckable uncheckable = Uncheckable::FailsTheStep;
        bool ran = false;                    // it ran on its thread (false: none started)
        PublisherVerdict verdict;            // what it found there
        std::exception_ptr failure;          // or why it could not run
        std::atomic<bool> finished = false;  // set there once verdict or failure is written
        bool posted = false;                 // set on the loop's thread once it has ended
    };
    // Begins the publisher's check of the held file on a thread of its own.
    void BeginCheck(Uncheckable uncheckable);

    platform::FileSystem& files_;
    platform::EventLoop& loop_;
    WindowWaits& waits_;
    LaunchLog& log_;
    UpdaterCheck checkUpdater_;
    std::shared_ptr<PublisherCheck> publisher_;
    std::shared_ptr<platform::HeldFile> held_;
    std::string path_;                // where the held file is now
    std::shared_ptr<Check> pending_;  // the publisher's check of the held file, not yet judged
};

}  // namespace gor::launcher
