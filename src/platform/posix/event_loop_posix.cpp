// The native event loop: dispatch rounds over posted tasks, timers and polled descriptors.
#include "platform/posix/event_loop_posix.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/posix/posix_error.h"
#include "platform/posix/socket_control_posix.h"

namespace gor::platform::posix {

// ---------------------------------------------------------------------------------------------
// Posted tasks

// Queued by any thread under a lock; an eventfd wakes the loop's poll. Shared with the helper
// threads of RunOffLoop, so it outlives whichever of them and the loop ends last; once the
// loop is gone (`open` false), what arrives is dropped.
struct PostedTasks {
    PostedTasks() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (fd < 0) ThrowLastError("eventfd");
    }
    ~PostedTasks() { ::close(fd); }
    PostedTasks(const PostedTasks&) = delete;
    PostedTasks& operator=(const PostedTasks&) = delete;

    // Queues `task` and its wake-up; false, with the task dropped, when the loop takes no more
    // (it is gone, or memory ran out). Throws nothing.
    bool Add(std::function<void()> task) noexcept {
        {
            std::lock_guard lock(mutex);
            if (!open) return false;  // the task goes once the lock is released
            try {
                tasks.push_back(std::move(task));
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        const std::uint64_t one = 1;
        // A full counter still leaves the descriptor readable, so a failed write loses nothing.
        [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
        return true;
    }

    // Loop thread: clears the wake-up and hands over what was posted.
    std::deque<std::function<void()>> Take() {
        std::uint64_t count;
        [[maybe_unused]] auto n = ::read(fd, &count, sizeof count);
        std::lock_guard lock(mutex);
        return std::exchange(tasks, {});
    }

    const int fd;
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    bool open = true;
};

// ---------------------------------------------------------------------------------------------
// Timers

namespace {

class LoopTimer final : public Timer {
  public:
    LoopTimer(EventLoopPosix& loop, std::shared_ptr<EventLoopPosix::TimerState> state)
        : loop_(loop), state_(std::move(state)) {}
    // A round that already picked this timer as due must not tick it once it is gone.
    ~LoopTimer() override { state_->enabled = false; }

    void SetEnabled(bool enabled) override {
        state_->enabled = enabled;
        if (enabled) state_->due = loop_.Now() + state_->intervalSeconds;
    }
    bool Enabled() const override { return state_->enabled; }

  private:
    EventLoopPosix& loop_;
    std::shared_ptr<EventLoopPosix::TimerState> state_;
};

timespec ToTimespec(double seconds) {
    seconds = std::max(seconds, 0.0);
    // Round up to whole nanoseconds so a wake-up never comes a hair before its deadline,
    // which would make the caller poll again with a zero timeout.
    const double whole = std::floor(seconds);
    long nanos = static_cast<long>(std::ceil((seconds - whole) * 1e9));
    time_t secs = static_cast<time_t>(std::min(whole, 1e9));
    if (nanos >= 1000000000L) {
        ++secs;
        nanos -= 1000000000L;
    }
    return timespec{secs, nanos};
}

}  // namespace

std::unique_ptr<Timer> EventLoopPosix::CreateTimer(int intervalMs, std::function<void()> onTick) {
    auto state = std::make_shared<TimerState>();
    state->intervalSeconds = intervalMs / 1000.0;
    state->onTick = std::move(onTick);
    timers_.push_back(state);
    return std::make_unique<LoopTimer>(*this, std::move(state));
}

double EventLoopPosix::NextTimerDue() {
    double next = std::numeric_limits<double>::infinity();
    for (const auto& weak : timers_) {
        if (auto t = weak.lock(); t && t->enabled && t->intervalSeconds > 0)
            next = std::min(next, t->due);
    }
    return next;
}

bool EventLoopPosix::RunExpiredTimers() {
    std::erase_if(timers_, [](const auto& weak) { return weak.expired(); });
    // A tick may create or destroy timers, so walk a snapshot and keep each one alive meanwhile.
    std::vector<std::shared_ptr<TimerState>> due;
    const double now = Now();
    for (const auto& weak : timers_) {
        if (auto t = weak.lock(); t && t->enabled && t->intervalSeconds > 0 && t->due <= now)
            due.push_back(std::move(t));
    }
    bool ran = false;
    for (auto& t : due) {
        // Checked again: an earlier tick of this round may have disabled or restarted it.
        if (!t->enabled || t->due > now) continue;
        // Re-armed before the tick runs, so a tick that waits (and so dispatches) inside
        // its own handler is not delivered a second time.
        t->due = now + t->intervalSeconds;
        ran = true;
        auto tick = t->onTick;
        tick();
    }
    return ran;
}

// ---------------------------------------------------------------------------------------------
// The loop

EventLoopPosix::EventLoopPosix() : tasks_(std::make_shared<PostedTasks>()) {}

EventLoopPosix::~EventLoopPosix() {
    std::deque<std::function<void()>> dropped;  // destroyed here, outside the lock
    std::lock_guard lock(tasks_->mutex);
    tasks_->open = false;
    dropped.swap(tasks_->tasks);
}

double EventLoopPosix::Now() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Another thread has no one to tell: its task is dropped, as RunOffLoop's `done` is.
void EventLoopPosix::Post(std::function<void()> task) {
    if (!tasks_->Add(std::move(task)) && std::this_thread::get_id() == thread_)
        throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "Post");
}

void EventLoopPosix::RunOffLoop(std::function<void()> work, std::function<void()> done) {
    // Detached: the thread owns its tasks and the queue, never the loop.
    std::thread([work = std::move(work), done = std::move(done), tasks = tasks_]() mutable {
        work();
        tasks->Add(std::move(done));
    }).detach();
}

std::unique_ptr<SocketControl> EventLoopPosix::CreateSocket() {
    return std::make_unique<SocketControlPosix>(*this);
}

EventLoopPosix::WatchId EventLoopPosix::Watch(int fd, std::weak_ptr<FdWatcher> watcher) {
    const WatchId id = nextWatchId_++;
    watched_.emplace(id, Watched{fd, std::move(watcher)});
    return id;
}

void EventLoopPosix::Unwatch(WatchId id) {
    watched_.erase(id);
}

bool EventLoopPosix::RunPostedTasks(std::size_t count) {
    // Only what was queued before this round: a task that posts again runs next round.
    bool ran = false;
    for (std::size_t i = 0; i < count && !posted_.empty(); ++i) {
        auto task = std::move(posted_.front());
        posted_.pop_front();
        ran = true;
        task();
    }
    return ran;
}

void EventLoopPosix::DispatchEvents(double deadline) {
    for (;;) {
        for (auto& task : tasks_->Take()) posted_.push_back(std::move(task));
        const double now = Now();
        const std::size_t postedBefore = posted_.size();
        double wake = postedBefore > 0 ? now : std::min(deadline, NextTimerDue());

        // Local poll set: handlers may run a nested DispatchEvents with its own.
        std::vector<pollfd> fds;
        std::vector<WatchId> ids;
        fds.push_back(pollfd{tasks_->fd, POLLIN, 0});
        ids.push_back(0);
        for (const auto& [id, w] : watched_) {
            auto watcher = w.watcher.lock();
            if (!watcher) continue;
            if (const short events = watcher->Interest(); events != 0) {
                fds.push_back(pollfd{w.fd, events, 0});
                ids.push_back(id);
            }
        }

        const timespec timeout = ToTimespec(wake - now);
        const int ready = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
        if (ready < 0 && errno != EINTR) ThrowLastError("ppoll");
        const std::uint64_t round = ++round_;

        bool dispatched = false;
        if (ready > 0) {
            if (fds[0].revents != 0) {
                for (auto& task : tasks_->Take()) posted_.push_back(std::move(task));
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                auto it = watched_.find(ids[i]);
                if (it == watched_.end()) continue;  // unwatched by an earlier handler
                // A nested dispatch inside an earlier handler already served this watcher
                // from a fresher poll; what we saw is stale.
                if (it->second.servicedInRound > round) continue;
                auto watcher = it->second.watcher.lock();
                if (!watcher) continue;
                it->second.servicedInRound = round;
                dispatched = true;
                watcher->OnReady(fds[i].revents);
            }
        }
        if (RunExpiredTimers()) dispatched = true;
        if (RunPostedTasks(postedBefore)) dispatched = true;
        if (dispatched || Now() >= deadline) return;
        // A task posted from another thread arrived but nothing else: run it on the next pass.
    }
}

}  // namespace gor::platform::posix
