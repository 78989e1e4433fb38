// UpdaterHold: the one handle on the updater that will start, from its open through its check,
// its rename and its start, so that the file that starts is the file that was checked.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "launcher/busy_files.h"
#include "launcher/executable_image.h"
#include "launcher/launch_log.h"
#include "launcher/publisher.h"
#include "platform/file_system.h"

namespace gor::launcher {

// Decides whether a file (its first bytes and its size) is a whole program of the kind the
// platform starts; see executable_image.h.
using UpdaterCheck = ImageVerdict (*)(std::string_view head, std::uint64_t fileSize);

// "gorupd.exe" of a path in the launcher's folder, for the log.
std::string FileNameOf(const std::string& path);

// Holds at most one file at a time. Every file step waits while the file is busy (busy_files.h).
class UpdaterHold {
  public:
    // What a file that cannot be opened or checked at all does to the road.
    enum class Uncheckable {
        FailsTheStep,      // the step's failure, the file kept
        SkippedThisStart,  // taken as absent this start, the file kept; logged
    };

    // All outlive the hold. `publisher` may be null: nothing is pinned.
    UpdaterHold(platform::FileSystem& files, BusyWaiter& waiter, LaunchLog& log,
                UpdaterCheck checkUpdater, std::shared_ptr<PublisherCheck> publisher);

    // Holds the updater found at `path` for `purpose` when it is acceptable and returns true;
    // one that is not is removed. False when there is none (left).
    bool Take(const std::string& path, platform::HoldFor purpose, Uncheckable uncheckable);
    // Holds a download's finished body at `path` for its rename when it is acceptable, of
    // `announcedLength` bytes unless that is download::kUnknownLength; one that is not is left
    // where it is. A file that cannot be opened or checked throws.
    bool TakeDownload(const std::string& path, double announcedLength);
    // Gives the held file the name `fileName` in its folder, through the hold; logged.
    void Rename(const std::string& fileName);
    bool Held() const { return held_ != nullptr; }
    // Closes the hold; nothing is held afterwards. Never throws.
    void LetGo() noexcept;

  private:
    // Opens the file at `path` to hold it for `purpose`.
    void Open(const std::string& path, platform::HoldFor purpose);
    // The one rule for an updater to install or start: a program the platform can run (of
    // `announcedLength` bytes when that is known) and, when a publisher is pinned, signed by
    // it. The verdict and its reason go to the log. A file that cannot be read or checked
    // throws.
    bool IsAcceptable(double announcedLength);

    platform::FileSystem& files_;
    BusyWaiter& waiter_;
    LaunchLog& log_;
    UpdaterCheck checkUpdater_;
    std::shared_ptr<PublisherCheck> publisher_;
    std::shared_ptr<platform::HeldFile> held_;
    std::string path_;  // where the held file is now
};

}  // namespace gor::launcher
