// The Win32 event loop: the thread's message queue, a performance-counter clock, and
// WM_TIMER timers and the wake-ups of posted tasks on a hidden message-only window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/event_loop.h"
#include "platform/win32/owned_window.h"

struct HWND__;

namespace gor::platform::win32 {

// The tasks posted to a loop, shared with the threads that post them (see
// event_loop_win32.cpp).
struct PostedTasks;

class EventLoopWin32 final : public EventLoop {
  public:
    // Creates the message-only window on the calling (UI) thread. Throws std::system_error.
    EventLoopWin32();
    ~EventLoopWin32() override;
    EventLoopWin32(const EventLoopWin32&) = delete;
    EventLoopWin32& operator=(const EventLoopWin32&) = delete;

    double Now() override;
    // Dispatches messages of every window of the thread. A failure held by a window procedure
    // (see callback_guard.h) is rethrown here. WM_QUIT ends the process with its exit code:
    // the launcher never returns to an outer message loop that could honour it.
    void DispatchEvents(double deadline) override;
    // Timers must be destroyed before the loop.
    std::unique_ptr<Timer> CreateTimer(int intervalMs, std::function<void()> onTick) override;
    std::unique_ptr<SocketControl> CreateSocket() override;

    // Each task is woken by a message of its own on the loop's window, so tasks and the
    // thread's other messages keep the order they were posted in.
    void Post(std::function<void()> task) override;
    void RunOffLoop(std::function<void()> work, std::function<void()> done) override;

  private:
    class TimerWin32;
    // The loop window's messages (see owned_window.h).
    static bool HandleMessage(void* owner, HWND__* window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t& result);
    bool DispatchPending(double deadline);
    void OnTimer(std::uintptr_t id);

    const WindowOwner owner_{this, &HandleMessage};
    HWND__* window_ = nullptr;
    double secondsPerTick_ = 0;
    // By the id of their current SetTimer; a handful at most, so a plain list.
    std::vector<std::pair<std::uintptr_t, TimerWin32*>> timers_;
    std::uintptr_t nextTimerId_ = 1;
    std::shared_ptr<PostedTasks> tasks_;
    unsigned long thread_;  // the loop's thread, the one a failing Post is told on
};

}  // namespace gor::platform::win32
