// The native event loop: one thread, a monotonic clock, posted tasks, repeating timers and
// descriptors watched with ppoll(). Waiting sleeps in ppoll() until the nearest of the
// caller's deadline, the next timer and descriptor readiness; it never spins.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace gor::platform::posix {

// Something owning a descriptor that the loop polls on its behalf.
class FdWatcher {
  public:
    virtual ~FdWatcher() = default;
    // The poll events wanted right now (POLLIN, POLLOUT), or 0 to leave the descriptor out
    // of the poll set altogether (so a hang-up nobody reads cannot wake the loop forever).
    virtual short Interest() const = 0;
    // Called from DispatchEvents with the events poll() reported.
    virtual void OnReady(short revents) = 0;
};

// The tasks posted to a loop, shared with the threads that post them (see event_loop_posix.cpp).
struct PostedTasks;

class EventLoopPosix final : public EventLoop {
  public:
    using WatchId = std::uint64_t;

    EventLoopPosix();
    // Timers and sockets made by the loop must be gone before it.
    ~EventLoopPosix() override;
    EventLoopPosix(const EventLoopPosix&) = delete;
    EventLoopPosix& operator=(const EventLoopPosix&) = delete;

    double Now() override;
    void DispatchEvents(double deadline) override;
    std::unique_ptr<Timer> CreateTimer(int intervalMs, std::function<void()> onTick) override;
    std::unique_ptr<SocketControl> CreateSocket() override;

    // Polls `fd` for `watcher` until Unwatch. The loop holds the watcher weakly. Ids are never
    // reused, so readiness seen for a descriptor that was closed and reopened under the same
    // number inside a handler is not delivered to the new owner.
    WatchId Watch(int fd, std::weak_ptr<FdWatcher> watcher);
    void Unwatch(WatchId id);

    // A task posted from another thread wakes the poll through an eventfd.
    void Post(std::function<void()> task) override;
    void RunOffLoop(std::function<void()> work, std::function<void()> done) override;

    struct TimerState {
        double intervalSeconds = 0;
        double due = 0;
        bool enabled = false;
        std::function<void()> onTick;
    };

  private:
    struct Watched {
        int fd;
        std::weak_ptr<FdWatcher> watcher;
        std::uint64_t servicedInRound = 0;
    };

    double NextTimerDue();
    bool RunExpiredTimers();
    bool RunPostedTasks(std::size_t count);

    std::deque<std::function<void()>> posted_;  // taken from tasks_, run in this order
    std::vector<std::weak_ptr<TimerState>> timers_;
    std::map<WatchId, Watched> watched_;
    WatchId nextWatchId_ = 1;
    std::uint64_t round_ = 0;
    std::shared_ptr<PostedTasks> tasks_;
    // The loop's thread, the one a failing Post is told on.
    const std::thread::id thread_ = std::this_thread::get_id();
};

}  // namespace gor::platform::posix
