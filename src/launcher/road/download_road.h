// DownloadRoad: the whole fetch of the updater beyond one request of the download control: the
// target and its partial file, the routes through the system's proxies, the tries again (resumes,
// reconnects, busy hosts, a whole fetch after a foreign piece) with their pauses, the validator
// and the bytes received that a resume continues and the watchdog and the percentage read, and
// the log's lines of every try. FetchFile and the download handlers drive it; the window keeps
// its fields and its waits.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "download/gor_download.h"
#include "launcher/base/busy_files.h"
#include "launcher/base/launch_log.h"
#include "launcher/road/download_retries.h"
#include "launcher/road/proxy_choice.h"
#include "launcher/road/watchdog.h"
#include "platform/event_loop.h"
#include "platform/file_system.h"
#include "platform/system_proxy.h"

namespace gor::launcher {

// What the road asks of the window that drives it. Every wait dispatches events, so the
// watchdog rules them all.
class RoadWindow : public WindowWaits {
  public:
    // Runs `start` (one try) and waits, dispatching events, until a handler says the try ended.
    virtual void AwaitTry(const std::function<void()>& start) = 0;

  protected:
    ~RoadWindow() = default;
};

class DownloadRoad {
  public:
    // All outlive the road. `proxy` may be null: every request goes direct. `skipped` hears of
    // the tidying steps that fail.
    DownloadRoad(download::GorDownload& control, RoadWindow& window, platform::EventLoop& loop,
                 platform::FileSystem& files, const Watchdog& watchdog, LaunchLog& log,
                 download::SkippedFailures& skipped, platform::SystemProxy* proxy,
                 RandomShare retryShare);

    // Fetches `hostAndPath` (the URL without its scheme) into `target` through the partial file
    // beside it (PartialFileFor): every try until the road ends, then whatever partial file is
    // left removed. Never throws: a failure is logged, and whether the updater arrived is told by
    // the file. The window still waits `reserve` seconds after the road's end before it stops
    // the watchdog.
    void Fetch(const std::string& hostAndPath, const std::string& target, double reserve);
    // The watchdog's end of a fetch: the transfer stopped and its partial file removed.
    void Stop();

    const std::string& target() const { return target_; }
    const std::string& partialFile() const { return partialFile_; }
    // The body's bytes in the partial file at the last Progress: what the watchdog and the
    // percentage line read.
    double received() const { return received_; }

    // The control's events as the road sees them; the window's handlers call these.
    void Progress(double downloaded);
    void ProbeAnswered();
    void Complete();
    void Failed(const std::string& description, bool SERVER_ERROR);
    void Disconnected();

  private:
    // A new road to the control's URL (`url` with its scheme, for the proxy lookup): the
    // system's proxies are looked up, and nothing of an earlier road counts.
    void Begin(const std::string& url, double reserve);
    // Starts the next try: the probe, or the transfer when the probe has been answered.
    void StartTry();
    // After a try ended: logs how, and whether the road goes on; when it does, the next route
    // is taken at once, or the pause before a try again has been waited. No route or try
    // again is taken that could still be making its connection when the watchdog would end
    // the road (less the reserve): the road ends here instead, as a network failure.
    bool Again();
    // Removes the partial file if there is one, whatever its attributes.
    void RemovePartialFile();

    // One try's state: set anew, all of it, whenever a request starts.
    struct Try {
        bool bodyRequested = false;           // the try is the transfer, not the probe
        bool requestLogged = false;           // its request is in the log
        bool answerLogged = false;            // its answer's status line is in the log
        bool noConnection = false;            // it made no connection (refused, timed out, ...)
        TryEnding ending = TryEnding::Final;  // how it ended, for the retry rule
        double busyWait = 0;                  // the wait a busy host named, in seconds
    };

    void StartRequest(bool probe);
    // The transfer, resuming what the partial file holds when a validator ties it to the
    // server's file.
    void StartTransfer();
    // Asks the system, once per road and within kProxyLookupSeconds, which proxies serve
    // `url`, and takes the first route.
    void LookUpProxy(const std::string& url);
    void UseRoute(std::size_t route);
    // After a try that could make no connection, the next route of the list, when there is one,
    // no answer has come through the one in use, and there is time for it.
    bool NextRoute();
    // Whether a try after `pause` seconds that spends the whole connect budget still ends,
    // with the reserve after it, before the watchdog's deadline.
    bool InTime(double pause) const;
    // The log's words for a try or route that the watchdog's deadline leaves no time for.
    std::string NoTimeFor(const std::string& what) const;
    // How a broken transfer's try ended: Cut when it can be resumed, else Final.
    TryEnding ResumableEnding();
    // How a try that the server refused ended: a busy host or a gateway may be asked again.
    TryEnding RefusedEnding();
    // What the current try sent, once per try, before what came back.
    void LogRequest();
    void LogAnswer(const char* purpose);
    // The log line of a retry about to be made after `pause` seconds, or of the road's end
    // (no tries left, or none `inTime`).
    void LogRetry(std::optional<double> pause, bool inTime);

    download::GorDownload& control_;
    RoadWindow& window_;
    platform::EventLoop& loop_;
    platform::FileSystem& files_;
    const Watchdog& watchdog_;
    LaunchLog& log_;
    download::SkippedFailures& skipped_;
    platform::SystemProxy* proxy_;
    RandomShare retryShare_;

    DownloadRetries retries_;
    Try try_;
    std::string target_;       // the file FetchFile was asked for
    std::string partialFile_;  // where the body goes until it is complete
    double reserve_ = 0;       // seconds the window waits after the road before the watchdog stops
    double received_ = 0;      // bytes in the partial file at the last Progress
    std::string validator_;    // If-Range of the bytes in the partial file; empty: none
    std::vector<ProxyRoute> routes_ = std::vector<ProxyRoute>(1);  // the ways there, in order
    std::size_t route_ = 0;                                        // the one in use
    bool routeAnswered_ = false;  // an answer came through it: resumes and retries keep it
};

}  // namespace gor::launcher
