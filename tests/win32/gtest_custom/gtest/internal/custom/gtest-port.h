// GoogleTest's hook for adapting it to a platform, found before its own empty one. The
// Windows build uses mingw-w64's win32 thread model, whose standard library has no std::mutex
// or std::condition_variable; GoogleTest builds its Notification from them unless one is
// supplied. This one is a Win32 manual-reset event.
#pragma once

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
  public:
    Notification() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { ::CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { ::SetEvent(event_); }
    void WaitForNotification() { ::WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};

}  // namespace testing::internal
