// The one thread's event loop: a monotonic clock, waiting that dispatches
// window, timer and socket events, timers, the sockets that deliver into it, and the one way
// back to it from another thread.
#pragma once

#include <functional>
#include <memory>

namespace gor::platform {

class SocketControl;

// A repeating timer whose tick runs on the UI thread from inside DispatchEvents.
class Timer {
  public:
    virtual ~Timer() = default;
    // Enabling (re)starts the interval; disabling drops a tick not yet delivered.
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
};

class EventLoop {
  public:
    virtual ~EventLoop() = default;

    // Seconds on a monotonic clock (arbitrary origin, never jumps, does not restart at midnight).
    virtual double Now() = 0;

    // Dispatches every pending event; when none is pending, sleeps until one arrives or
    // until Now() >= deadline, then dispatches what arrived. Never spins. Handlers run
    // nested inside this call and may call DispatchEvents themselves.
    virtual void DispatchEvents(double deadline) = 0;

    // A timer of `intervalMs`, created disabled.
    virtual std::unique_ptr<Timer> CreateTimer(int intervalMs, std::function<void()> onTick) = 0;

    // A new TCP socket control whose notifications are delivered by this loop.
    virtual std::unique_ptr<SocketControl> CreateSocket() = 0;

    // Runs `task` once on the loop's thread from a later DispatchEvents, never inside this
    // call, in the order posted. Safe from any thread while the loop exists. When the loop
    // takes no more (its queue is full, or memory ran out), a task posted from another thread
    // is dropped (destroyed on that thread), which has no one to tell; on the loop's thread
    // this throws std::system_error.
    virtual void Post(std::function<void()> task) = 0;

    // Runs `work` on a helper thread of its own, then `done` as Post does: how a blocking system
    // call (a name server, the proxy's auto-detection) waits without holding up the window.
    // `work` throws nothing and owns what it touches, as it may outlive its caller and the loop;
    // `done` checks that what it touches still exists, and is dropped as another thread's post
    // is, also when the loop is gone by then. Throws std::system_error, and runs neither, when
    // no thread can be started.
    virtual void RunOffLoop(std::function<void()> work, std::function<void()> done) = 0;
};

}  // namespace gor::platform
