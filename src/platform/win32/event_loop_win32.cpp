// The Win32 event loop: PeekMessage/DispatchMessage for what is pending, and
// MsgWaitForMultipleObjectsEx to sleep until the next message or the deadline.
#include "platform/win32/event_loop_win32.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <stdexcept>

#include "platform/win32/callback_guard.h"
#include "platform/win32/socket_control_win32.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {
namespace {

constexpr wchar_t kLoopWindowClass[] = L"GorlaunchEventLoop";
// Wakes the loop for the next posted task. It carries nothing: the tasks stay in this
// process's queue, so a message forged by another program on the desktop can at most run a
// task early. The loop window's class is private, so the WM_APP range is ours alone.
constexpr UINT kMsgTask = WM_APP + 1;
// MsgWaitForMultipleObjectsEx takes milliseconds; INFINITE is reserved.
constexpr double kLongestWaitMs = 0x7FFFFFF0;

using Task = std::function<void()>;

// Holds a critical section for a scope.
class Locked {
  public:
    explicit Locked(CRITICAL_SECTION& section) : section_(section) {
        ::EnterCriticalSection(&section_);
    }
    ~Locked() { ::LeaveCriticalSection(&section_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    CRITICAL_SECTION& section_;
};

}  // namespace

// Queued by any thread under a critical section (the mingw-w64 win32 thread model has no
// std::mutex), one wake-up message each. Shared with the helper threads of RunOffLoop, so it
// outlives whichever of them and the loop ends last; once the loop is gone (`window` null),
// what arrives is dropped.
struct PostedTasks {
    explicit PostedTasks(HWND loopWindow) : window(loopWindow) {
        ::InitializeCriticalSection(&lock);
    }
    ~PostedTasks() { ::DeleteCriticalSection(&lock); }
    PostedTasks(const PostedTasks&) = delete;
    PostedTasks& operator=(const PostedTasks&) = delete;

    // Queues `task` and its wake-up; false, with the task dropped and GetLastError kept, when
    // the loop takes no more (its queue is full, or it is gone). Throws nothing.
    bool Add(Task&& task) noexcept {
        Task dropped;  // destroyed after the lock is released
        const Locked hold(lock);
        // Queued and woken under one lock, so the queue's order is the messages' order.
        try {
            tasks.push_back(std::move(task));
        } catch (...) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (window && ::PostMessageW(window, kMsgTask, 0, 0)) return true;
        const DWORD error = window ? ::GetLastError() : ERROR_INVALID_WINDOW_HANDLE;
        dropped = std::move(tasks.back());
        tasks.pop_back();
        ::SetLastError(error);
        return false;
    }

    // Loop thread: the task of one wake-up, none for a forged one.
    Task Next() {
        const Locked hold(lock);
        if (tasks.empty()) return {};
        Task task = std::move(tasks.front());
        tasks.pop_front();
        return task;
    }

    CRITICAL_SECTION lock;
    std::deque<Task> tasks;
    HWND window;
};

namespace {

// A helper thread of RunOffLoop: its work, then its `done` handed to the loop. The thread
// owns it.
struct OffLoop {
    Task work, done;
    std::shared_ptr<PostedTasks> tasks;
};

DWORD WINAPI RunOff(void* parameter) {
    const std::unique_ptr<OffLoop> job(static_cast<OffLoop*>(parameter));
    job->work();
    job->tasks->Add(std::move(job->done));  // dropped when the loop is gone or full
    return 0;
}

}  // namespace

bool EventLoopWin32::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                                   std::intptr_t, std::intptr_t&) {
    auto* loop = static_cast<EventLoopWin32*>(owner);
    if (message == kMsgTask) {
        if (Task task = loop->tasks_->Next()) RunGuarded(task);
        return true;
    }
    if (message != WM_TIMER) return false;
    loop->OnTimer(wParam);
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

EventLoopWin32::EventLoopWin32() : thread_(::GetCurrentThreadId()) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);  // never fails on XP and later
    secondsPerTick_ = 1.0 / static_cast<double>(frequency.QuadPart);

    WNDCLASSEXW windowClass{};
    windowClass.lpszClassName = kLoopWindowClass;
    RegisterOwnedWindowClass(windowClass);
    window_ =
        CreateOwnedWindow(owner_, kLoopWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE, "event loop");
    tasks_ = std::make_shared<PostedTasks>(window_);
}

EventLoopWin32::~EventLoopWin32() {
    std::deque<Task> dropped;  // tasks never run, destroyed after the lock is released
    {
        const Locked hold(tasks_->lock);
        tasks_->window = nullptr;
        dropped.swap(tasks_->tasks);
    }
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

// Another thread has no one to tell: its task is dropped, as RunOffLoop's `done` is.
void EventLoopWin32::Post(std::function<void()> task) {
    if (!tasks_->Add(std::move(task)) && ::GetCurrentThreadId() == thread_)
        ThrowLastError("PostMessageW");
}

void EventLoopWin32::RunOffLoop(std::function<void()> work, std::function<void()> done) {
    auto job = std::make_unique<OffLoop>(OffLoop{std::move(work), std::move(done), tasks_});
    // The mingw-w64 win32 thread model has no std::thread; a plain system thread suffices.
    OffLoop* const handed = job.release();  // the thread's once it runs
    const HANDLE thread = ::CreateThread(nullptr, 0, &RunOff, handed, 0, nullptr);
    if (!thread) {
        const DWORD error = ::GetLastError();
        job.reset(handed);  // never started: ours again
        throw Win32Error(error, "CreateThread");
    }
    ::CloseHandle(thread);
}

std::unique_ptr<SocketControl> EventLoopWin32::CreateSocket() {
    return std::make_unique<SocketControlWin32>(*this);
}

}  // namespace gor::platform::win32
