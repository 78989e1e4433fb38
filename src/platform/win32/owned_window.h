// The layer's windows and the C++ objects that own them: every window class is registered
// through one function with one shared procedure, and a window's owner is stored when Windows
// reports its creation (WM_NCCREATE), so its messages reach the owner from then on until
// WM_NCDESTROY. The event loop, the launcher window and the socket control use it.
#pragma once

#include <cstdint>

struct HWND__;
struct tagWNDCLASSEXW;

namespace gor::platform::win32 {

// An owner and how it answers its window's messages. The handler returns false for a
// message it leaves to DefWindowProcW; otherwise it sets `result`. It runs inside a window
// procedure, so nothing may leave it (see callback_guard.h). Must outlive its window.
struct WindowOwner {
    using Handler = bool (*)(void* owner, HWND__* window, unsigned message, std::uintptr_t wParam,
                             std::intptr_t lParam, std::intptr_t& result);
    void* owner = nullptr;
    Handler handler = nullptr;
};

// Registers `windowClass` under its lpszClassName with the shared procedure (its lpfnWndProc
// is set here). A class of that name registered before, by an earlier object of the same
// kind, is taken as it is. Throws std::system_error.
void RegisterOwnedWindowClass(tagWNDCLASSEXW& windowClass);

// CreateWindowExW of a class registered above, at 0,0 and `width` x `height`, handing
// `owner` to its window from WM_NCCREATE on. Throws std::system_error naming `what`.
HWND__* CreateOwnedWindow(const WindowOwner& owner, const wchar_t* className,
                          const wchar_t* caption, unsigned long style, unsigned long exStyle,
                          int width, int height, HWND__* parent, const char* what);

// Stops handing messages to the window's owner: for an owner that is going away while its
// window still gets messages (its own DestroyWindow among them).
void ForgetOwner(HWND__* window);

}  // namespace gor::platform::win32
