// The one thread's event loop: a monotonic clock, waiting that dispatches
// window, timer and socket events, timers, and the sockets that deliver into it.
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
};

}  // namespace gor::platform
