// The Win32 event loop: PeekMessage/DispatchMessage for what is pending, and
// MsgWaitForMultipleObjectsEx to sleep until the next message or the deadline.
#include "platform/win32/event_loop_win32.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/win32/callback_guard.h"
#include "platform/win32/socket_control_win32.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {
namespace {

constexpr wchar_t kLoopWindowClass[] = L"GorlaunchEventLoop";
// A posted task; wParam owns it (a std::function<void()>). The loop window's class is private,
// so the WM_APP range is ours alone.
constexpr UINT kMsgTask = WM_APP + 1;
// MsgWaitForMultipleObjectsEx takes milliseconds; INFINITE is reserved.
constexpr double kLongestWaitMs = 0x7FFFFFF0;

using Task = std::function<void()>;

// Hands `task` to the loop's window; false, with the task freed and GetLastError kept, when
// the window takes no more.
bool PostTask(HWND window, Task task) noexcept {
    auto* posted = new (std::nothrow) Task(std::move(task));
    if (!posted) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (::PostMessageW(window, kMsgTask, reinterpret_cast<WPARAM>(posted), 0)) return true;
    const DWORD error = ::GetLastError();
    delete posted;
    ::SetLastError(error);
    return false;
}

}  // namespace

void Mailbox::Send(std::function<void()> task) const noexcept {
    PostTask(window_, std::move(task));
}

bool EventLoopWin32::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t, std::intptr_t&) {
    if (message == kMsgTask) {
        const std::unique_ptr<Task> task(reinterpret_cast<Task*>(wParam));
        RunGuarded([&task] { (*task)(); });
        return true;
    }
    if (message != WM_TIMER) return false;
    static_cast<EventLoopWin32*>(owner)->OnTimer(wParam);
    return true;
}

// A repeating SetTimer on the loop's window. Every enabling takes a fresh timer id:
// KillTimer does not remove a WM_TIMER already waiting in the queue, and a tick of the
// old id must not count for the restarted interval.
class EventLoopWin32::TimerWin32 final : public Timer {
  public:
    TimerWin32(EventLoopWin32& loop, int intervalMs, std::function<void()> onTick)
        : loop_(loop), intervalMs_(intervalMs), onTick_(std::move(onTick)) {
        if (intervalMs <= 0) throw std::invalid_argument("timer interval must be positive");
    }
    ~TimerWin32() override { Stop(); }

    void SetEnabled(bool enabled) override {
        Stop();
        if (!enabled) return;
        const std::uintptr_t id = loop_.nextTimerId_++;
        if (::SetTimer(loop_.window_, id, static_cast<UINT>(intervalMs_), nullptr) == 0) {
            ThrowLastError("SetTimer");
        }
        id_ = id;
        loop_.timers_.emplace_back(id, this);
    }

    bool Enabled() const override { return id_ != 0; }

    void Tick() { onTick_(); }

  private:
    void Stop() noexcept {
        if (id_ == 0) return;
        ::KillTimer(loop_.window_, id_);
        std::erase_if(loop_.timers_, [this](const auto& timer) { return timer.first == id_; });
        id_ = 0;
    }

    EventLoopWin32& loop_;
    int intervalMs_;
    std::function<void()> onTick_;
    std::uintptr_t id_ = 0;
};

EventLoopWin32::EventLoopWin32() {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);  // never fails on XP and later
    secondsPerTick_ = 1.0 / static_cast<double>(frequency.QuadPart);

    WNDCLASSEXW windowClass{};
    windowClass.lpszClassName = kLoopWindowClass;
    RegisterOwnedWindowClass(windowClass);
    window_ =
        CreateOwnedWindow(owner_, kLoopWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE, "event loop");
}

EventLoopWin32::~EventLoopWin32() {
    // Tasks never run are freed with their messages.
    MSG message;
    while (::PeekMessageW(&message, window_, kMsgTask, kMsgTask, PM_REMOVE))
        delete reinterpret_cast<Task*>(message.wParam);
    ForgetOwner(window_);
    ::DestroyWindow(window_);
}

double EventLoopWin32::Now() {
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * secondsPerTick_;
}

bool EventLoopWin32::DispatchPending(double deadline) {
    bool dispatched = false;
    MSG message;
    // Bounded by the deadline: a fast transfer can keep socket notifications queued without
    // pause, and the waiting caller must still get its turn.
    while ((!dispatched || Now() < deadline) &&
           ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::ExitProcess(static_cast<UINT>(message.wParam));
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
        dispatched = true;
        RethrowHeldFailure();
    }
    return dispatched;
}

void EventLoopWin32::DispatchEvents(double deadline) {
    if (DispatchPending(deadline)) return;
    const double remainingMs = (deadline - Now()) * 1000.0;
    if (remainingMs <= 0) return;
    // Round up: waking a fraction of a millisecond early would only make the caller wait again.
    const DWORD timeoutMs = static_cast<DWORD>(std::ceil(std::min(remainingMs, kLongestWaitMs)));
    // MWMO_INPUTAVAILABLE also wakes for messages that arrived before the call but were
    // seen (not removed) by an earlier peek, so nothing already queued is slept over.
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_FAILED) ThrowLastError("MsgWaitForMultipleObjectsEx");
    DispatchPending(deadline);
}

void EventLoopWin32::OnTimer(std::uintptr_t id) {
    const auto found = std::find_if(timers_.begin(), timers_.end(),
                                    [id](const auto& timer) { return timer.first == id; });
    if (found == timers_.end()) return;  // a late tick of a timer since stopped or restarted
    TimerWin32* timer = found->second;
    RunGuarded([timer] { timer->Tick(); });
}

std::unique_ptr<Timer> EventLoopWin32::CreateTimer(int intervalMs, std::function<void()> onTick) {
    return std::make_unique<TimerWin32>(*this, intervalMs, std::move(onTick));
}

void EventLoopWin32::Post(std::function<void()> task) {
    if (!PostTask(window_, std::move(task))) ThrowLastError("PostMessageW");
}

Mailbox EventLoopWin32::mailbox() const {
    Mailbox mailbox;
    mailbox.window_ = window_;
    return mailbox;
}

std::unique_ptr<SocketControl> EventLoopWin32::CreateSocket() {
    return std::make_unique<SocketControlWin32>(*this);
}

}  // namespace gor::platform::win32
