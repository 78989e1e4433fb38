// What the integration tests share: a scratch folder, test bodies, and GorDownload run on
// the real POSIX event loop, socket and files with a host that records every event.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "download/gor_download.h"
#include "platform/posix/event_loop_posix.h"
#include "platform/posix/file_system_posix.h"
#include "scratch_dir.h"

namespace gor::test {

// `size` bytes that differ from offset to offset, so a misplaced byte shows.
std::string TestBytes(std::size_t size, unsigned seed = 1);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A GorDownload on the native platform with a host that records its events in order and,
// like the launcher, calls DownloadFile from headerread when the server answered OK.
class DownloadRun : private download::GorDownloadEvents {
  public:
    // Generous: a loaded two-core machine may be slow, and no test waits this long when
    // things work.
    static constexpr double kTimeoutSeconds = 60;

    DownloadRun();
    ~DownloadRun() override;

    download::GorDownload& control() { return *control_; }
    platform::posix::EventLoopPosix& loop() { return loop_; }

    // Whether headerread starts the transfer (true by default).
    bool downloadOnHeaderread = true;

    // Points the control at 127.0.0.1:`port``path` and `target`, calls Readheaders and
    // dispatches events until the request ended: downloaded, DownloadError, Disconnected,
    // or (for a probe that the server closed) IsExecuting false without any event.
    void Fetch(int port, const std::string& path, const std::string& target);
    // Same, with a URL used as it is.
    void FetchUrl(const std::string& url, const std::string& target);
    // Keeps dispatching for `seconds`, so that a late or duplicate event would be seen.
    void Settle(double seconds = 0.3);

    // Events in order: "Progress", "downloaded", "DownloadError", "headerread",
    // "Disconnected", "canceled".
    std::vector<std::string> events;
    std::vector<std::pair<double, double>> progress;  // (downloaded, Total) of each Progress
    std::string errorDescription;
    bool serverError = false;
    std::string downloadedFile;

  private:
    void Progress(double downloaded, double Total) override;
    void downloaded(const std::string& dfile) override;
    void DownloadError(const std::string& description, bool SERVER_ERROR) override;
    void headerread() override;
    void Disconnected() override;
    void canceled() override;

    bool Ended() const;

    platform::posix::EventLoopPosix loop_;
    platform::posix::FileSystemPosix files_;
    std::unique_ptr<download::GorDownload> control_;
    bool ended_ = false;
};

}  // namespace gor::test
