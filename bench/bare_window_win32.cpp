// The yardstick of the start-up benchmark: the least a Win32 program does to be seen. It
// registers a class, creates a frameless window of the launcher's size, shows it, and ends
// half a second later.
#include <windows.h>

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kShownMs = 500;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TIMER:
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"BareWindow";
    if (::RegisterClassExW(&windowClass) == 0) return 1;

    const HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"BareWindow", L"Bare Window", WS_POPUP,
                                          100, 100, 200, 98, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ::ShowWindow(window, SW_SHOW);
    ::SetTimer(window, kCloseTimer, kShownMs, nullptr);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
