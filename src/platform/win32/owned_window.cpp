// One window procedure for all the layer's windows: it finds each window's owner, stored at
// WM_NCCREATE, and hands it the message.
#include "platform/win32/owned_window.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {
namespace {

LRESULT CALLBACK OwnedWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const auto* owner =
        reinterpret_cast<const WindowOwner*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) ForgetOwner(window);  // the last message; the owner still hears it
    std::intptr_t result = 0;
    if (owner != nullptr && owner->handler(owner->owner, window, message, wParam, lParam, result))
        return result;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void RegisterOwnedWindowClass(WNDCLASSEXW& windowClass) {
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &OwnedWindowProcedure;
    if (windowClass.hInstance == nullptr) windowClass.hInstance = ::GetModuleHandleW(nullptr);
    if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError("RegisterClassExW", Narrow(windowClass.lpszClassName));
    }
}

HWND CreateOwnedWindow(const WindowOwner& owner, const wchar_t* className, const wchar_t* caption,
                       unsigned long style, unsigned long exStyle, int width, int height,
                       HWND parent, const char* what) {
    const HWND window =
        ::CreateWindowExW(exStyle, className, caption, style, 0, 0, width, height, parent, nullptr,
                          ::GetModuleHandleW(nullptr), const_cast<WindowOwner*>(&owner));
    if (window == nullptr) ThrowLastError("CreateWindowExW", what);
    return window;
}

void ForgetOwner(HWND window) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
}

}  // namespace gor::platform::win32
