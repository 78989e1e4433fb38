// frmLaunch's window on Win32: creation from resources, scaling to the monitor's resolution,
// double-buffered painting of the picture and labels, the labels' accessible text, first-show
// centring, the message box, and the shaping operations.
#include "platform/win32/launcher_window_win32.h"

#include <windows.h>
// After windows.h, which they need.
#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <initializer_list>
#include <stdexcept>

#include "platform/win32/callback_guard.h"
#include "platform/win32/region_win32.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "window/assets/resource_ids.h"
#include "window/layout.h"
#include "window/scaling.h"
#include "window/shape_module.h"

namespace gor::platform::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"GorlaunchfrmLaunch";

// Sent before a move to a monitor of another resolution (Windows 10 1703 on); the headers
// declare it only for builds that require that version.
constexpr UINT kWmGetDpiScaledSize = 0x02E4;

constexpr UINT kLabelFormat = DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX;

// A live region's text changed (Windows 8 on); declared only for builds that require it.
constexpr DWORD kEventObjectLiveRegionChanged = 0x8019;
// The accessibility runtime's annotation service and the live-region property (values from
// oleacc.h and uiautomationcore.h, whose GUIDs the import libraries would otherwise bring in).
constexpr CLSID kAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kLiveSettingPolite = 1;

// The labels' STATICs: the launcher window paints each label, so its STATIC paints nothing
// (not even on a new caption, which Wine's STATIC draws at once) and passes everything else
// to the STATIC class's own procedure, kept in its user data.
LRESULT CALLBACK SilentText(HWND text, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            ::BeginPaint(text, &ps);
            ::EndPaint(text, &ps);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SETTEXT:
            return ::DefWindowProcW(text, message, wParam, lParam);
        default:
            return ::CallWindowProcW(
                reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(text, GWLP_USERDATA)), text, message,
                wParam, lParam);
    }
}

// Marks the STATICs as polite live regions: a screen reader speaks their new captions when it
// is free, though they never have the focus. The annotation service is a COM object of the
// system's (oleacc.dll); where it is missing or refuses (before Windows 8) this throws, and
// the lines are read all the same, only not spoken unasked. COM stays set up on this thread
// to its end.
void MarkPoliteLiveRegions(std::initializer_list<HWND> texts) {
    using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
    using CoCreateInstanceFn = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
    const Module ole32 = SystemLibrary(L"ole32.dll");
    Require<CoInitializeExFn>(ole32, "CoInitializeEx")(
        nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    IAccPropServices* services = nullptr;
    const HRESULT created = Require<CoCreateInstanceFn>(ole32, "CoCreateInstance")(
        kAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIAccPropServices,
        reinterpret_cast<void**>(&services));
    if (FAILED(created) || services == nullptr)
        throw Win32Error(static_cast<DWORD>(created), "CoCreateInstance (CAccPropServices)");
    VARIANT polite{};
    polite.vt = VT_I4;
    polite.lVal = kLiveSettingPolite;
    for (const HWND text : texts)
        services->SetHwndProp(text, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                              kLiveSettingProperty, polite);
    services->Release();
}

// The resolution of the monitor the window is on. GetDpiForWindow exists from Windows 10
// (1607) on, so it is looked up rather than imported; before that the process is at most
// per-monitor aware without it (8.1, where WM_DPICHANGED tells of other monitors) or system
// aware, and the screen's resolution is the one to use.
int WindowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow =
        FindFunction<GetDpiForWindowFn>(LoadedModule(L"user32.dll"), "GetDpiForWindow");
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi > 0) return static_cast<int>(dpi);
    }
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) ThrowLastError("GetDC (screen)");
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : window::kDesignDpi;
}

// Twips to pixels, to the nearest pixel (45.33 px -> 45).
int TwipsToPixels(int twips, int twipsPerPixel) {
    return (twips + twipsPerPixel / 2) / twipsPerPixel;
}

HFONT MakeFont(const window::FontDesign& design, int dpi) {
    // Negative height asks for the character height (not the cell) in pixels at the monitor's
    // resolution; hundredths of a point because 8.25 pt is not a whole number.
    const int centipoints = static_cast<int>(std::lround(design.points * 100));
    const int height = -::MulDiv(centipoints, dpi, 72 * 100);
    const std::wstring face = Widen(design.face);
    const HFONT font = ::CreateFontW(height, 0, 0, 0, design.bold ? FW_BOLD : FW_NORMAL,
                                     design.italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    if (font == nullptr) ThrowLastError("CreateFontW " + std::string(design.face));
    return font;
}

HICON LoadProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    // LoadImage picks the best of the icon group's images for the asked size.
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(GOR_IDI_APPLICATION),
                                           IMAGE_ICON, ::GetSystemMetrics(widthMetric),
                                           ::GetSystemMetrics(heightMetric),
                                           LR_DEFAULTCOLOR | LR_SHARED));
}

// A DIB pixel (bytes B, G, R, unused) and a colour reference 0x00BBGGRR hold the same three
// bytes in opposite order: the one swap converts either way.
std::uint32_t SwapRedBlue(std::uint32_t color) {
    return (color & 0xFF) << 16 | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

// A top-down 32-bit DIB header for a picture of width x height.
BITMAPINFO DibHeader(int width, int height) {
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = -height;  // negative: rows top-down, like the picture as shown
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;  // one DWORD per pixel, no row padding
    header.bmiHeader.biCompression = BI_RGB;
    return header;
}

// The launcher picture from the resources, as colour references.
window::Pixels LoadLauncherPicture(HINSTANCE instance) {
    // A DIB section keeps the picture's exact colours whatever the display's depth, so the
    // transparent colour still matches exactly when the pixels are read.
    const HBITMAP bitmap = static_cast<HBITMAP>(::LoadImageW(
        instance, MAKEINTRESOURCEW(GOR_IDB_LAUNCHER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap == nullptr) ThrowLastError("LoadImageW (launcher picture)");
    window::Pixels pixels;
    BITMAP info{};
    DWORD error = ERROR_INVALID_DATA;
    int rows = 0;
    if (::GetObjectW(bitmap, sizeof info, &info) != 0) {
        pixels.width = info.bmWidth;
        pixels.height = std::abs(info.bmHeight);
        pixels.colors.resize(static_cast<std::size_t>(pixels.width) *
                             static_cast<std::size_t>(pixels.height));
        BITMAPINFO request = DibHeader(pixels.width, pixels.height);
        if (const HDC screen = ::GetDC(nullptr); screen != nullptr) {
            rows = ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(pixels.height),
                               pixels.colors.data(), &request, DIB_RGB_COLORS);
            error = ::GetLastError();
            ::ReleaseDC(nullptr, screen);
        }
    }
    ::DeleteObject(bitmap);
    if (rows != pixels.height || rows == 0)
        throw Win32Error(rows == 0 ? error : ERROR_INVALID_DATA, "GetDIBits (launcher picture)");
    std::transform(pixels.colors.begin(), pixels.colors.end(), pixels.colors.begin(), SwapRedBlue);
    return pixels;
}

// `pixels` as a DIB section, to be drawn with their exact colours.
HBITMAP MakePicture(const window::Pixels& pixels) {
    const BITMAPINFO header = DibHeader(pixels.width, pixels.height);
    void* bits = nullptr;
    const HBITMAP bitmap = ::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) ThrowLastError("CreateDIBSection (launcher picture)");
    std::transform(pixels.colors.begin(), pixels.colors.end(), static_cast<std::uint32_t*>(bits),
                   SwapRedBlue);
    return bitmap;
}

// Select objects into a device context for one scope and put the old ones back.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace

bool LauncherWindowWin32::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                                        std::intptr_t lParam, std::intptr_t& result) {
    auto* self = static_cast<LauncherWindowWin32*>(owner);
    switch (message) {
        case WM_ERASEBKGND:
            result = 1;  // WM_PAINT draws every pixel; erasing first would flicker
            return true;
        case WM_PAINT:
            RunGuarded([self] { self->Paint(); });
            return true;
        case kWmGetDpiScaledSize: {
            // Asked before a move to a monitor of another resolution (per-monitor v2): our
            // own size there, so the suggested rectangle fits the scaled picture exactly.
            const auto [width, height] = self->SizeAtDpi(LOWORD(wParam));
            *reinterpret_cast<SIZE*>(lParam) = {width, height};
            result = TRUE;
            return true;
        }
        case WM_DPICHANGED: {
            const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
            RunGuarded([&] { self->DpiChanged(LOWORD(wParam), suggested.left, suggested.top); });
            return true;
        }
        case WM_CLOSE:
            // Alt+F4 must not pull the window from under the launch sequence; the
            // launcher closes it itself when it ends, a minute at the most.
            return true;
        case WM_NCDESTROY:
            self->window_ = nullptr;
            return false;
        default:
            return false;
    }
}

void LauncherWindowWin32::DeleteGdiObject::operator()(void* object) const {
    ::DeleteObject(static_cast<HGDIOBJ>(object));
}

LauncherWindowWin32::Label LauncherWindowWin32::MakeLabel(const window::LabelDesign& design) {
    return {&design, Widen(design.caption), design.foreColor, design.visible, nullptr, nullptr};
}

LauncherWindowWin32::LauncherWindowWin32()
    : lblStatus(MakeLabel(window::lblStatus)), lblPercent(MakeLabel(window::lblPercent)) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    design_ = LoadLauncherPicture(instance);
    WNDCLASSEXW windowClass{};
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadProgramIcon(instance, SM_CXICON, SM_CYICON);
    windowClass.hIconSm = LoadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    RegisterOwnedWindowClass(windowClass);
    // WS_POPUP: no frame, so the outer size is the drawing area. WS_EX_TOOLWINDOW keeps the
    // window off the taskbar. Created hidden (it is shaped before anyone sees it) on the
    // primary monitor, where it will be shown, and then sized for that monitor's resolution.
    const std::wstring caption = Widen(window::kFormCaption);
    window_ = CreateOwnedWindow(owner_, kWindowClass, caption.c_str(), WS_POPUP, WS_EX_TOOLWINDOW,
                                1, 1, nullptr, "frmLaunch");
    try {
        MakeText(lblStatus);
        MakeText(lblPercent);
        ScaleTo(WindowDpi(window_));
    } catch (...) {
        Destroy();
        throw;
    }
}

LauncherWindowWin32::~LauncherWindowWin32() {
    Destroy();
}

void LauncherWindowWin32::Destroy() noexcept {
    if (window_ != nullptr) ::DestroyWindow(window_);  // WM_NCDESTROY clears window_
    window_ = nullptr;
}

window::PixelRect LauncherWindowWin32::LabelRect(const Label& label) const {
    return window::PlaceAtDpi(label.design->place, dpi_);
}

std::pair<int, int> LauncherWindowWin32::SizeAtDpi(int dpi) const {
    if (shaped_)
        return {window::ScaleToDpi(design_.width, dpi), window::ScaleToDpi(design_.height, dpi)};
    const window::PixelRect design = window::PlaceAtDpi(
        {0, 0, window::kFormDesignWidthTwips, window::kFormDesignHeightTwips}, dpi);
    return {design.right, design.bottom};
}

void LauncherWindowWin32::ScaleTo(int dpi) {
    // Everything new is made before anything old is let go.
    window::Pixels scaled = window::ScalePicture(design_, dpi, window::kFormBackColor);
    Gdi<HBITMAP__> picture(MakePicture(scaled));
    Gdi<HFONT__> statusFont(MakeFont(lblStatus.design->font, dpi));
    Gdi<HFONT__> percentFont(MakeFont(lblPercent.design->font, dpi));
    dpi_ = dpi;
    scaled_ = std::move(scaled);
    picture_ = std::move(picture);
    lblStatus.font = std::move(statusFont);
    lblPercent.font = std::move(percentFont);
    PlaceText(lblStatus);
    PlaceText(lblPercent);
    const auto [width, height] = SizeAtDpi(dpi);
    if (!::SetWindowPos(window_, nullptr, 0, 0, width, height,
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        ThrowLastError("SetWindowPos (design size)");
    }
    // A shaped window keeps the outline of what it draws: cut again from the scaled pixels,
    // exactly as the launcher first cut it from the design's.
    if (shaped_)
        ApplyRegion(
            window::OpaqueRuns(scaled_, static_cast<std::uint32_t>(window::kTransparentColor)));
    ::InvalidateRect(window_, nullptr, FALSE);
}

void LauncherWindowWin32::DpiChanged(int dpi, int left, int top) {
    // Placed and sized for the new resolution in one move first, so the window cannot fall
    // back onto the monitor it came from while it is rebuilt.
    const auto [width, height] = SizeAtDpi(dpi);
    if (!::SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE))
        ThrowLastError("SetWindowPos (new resolution)");
    ScaleTo(dpi);
}

void LauncherWindowWin32::InvalidateLabel(const Label& label) {
    if (window_ == nullptr) return;
    // Only the label's area: the next paint rebuilds it from the picture, so an old caption
    // leaves no ghost behind.
    const window::PixelRect r = LabelRect(label);
    const RECT area{r.left, r.top, r.right, r.bottom};
    ::InvalidateRect(window_, &area, FALSE);
    // Paint now: WM_PAINT is only generated once no posted message waits, and a fast transfer
    // keeps socket notifications queued, so the percentage line would otherwise stand still.
    ::UpdateWindow(window_);
}

void LauncherWindowWin32::MakeText(Label& label) {
    // SS_NOPREFIX: an "&" in a caption is read as the label draws it.
    const DWORD style = WS_CHILD | SS_CENTER | SS_NOPREFIX | (label.visible ? WS_VISIBLE : 0);
    label.text = ::CreateWindowExW(0, L"STATIC", label.caption.c_str(), style, 0, 0, 0, 0, window_,
                                   nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (label.text == nullptr) ThrowLastError("CreateWindowExW (label text)");
    ::SetWindowLongPtrW(label.text, GWLP_USERDATA, ::GetWindowLongPtrW(label.text, GWLP_WNDPROC));
    ::SetWindowLongPtrW(label.text, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SilentText));
}

void LauncherWindowWin32::PlaceText(const Label& label) {
    const window::PixelRect r = LabelRect(label);
    // Nothing to copy or redraw: the STATIC shows nothing of its own.
    if (!::SetWindowPos(label.text, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                        SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS | SWP_NOREDRAW)) {
        ThrowLastError("SetWindowPos (label text)");
    }
}

void LauncherWindowWin32::Rename(const Label& label, bool announce) {
    if (window_ == nullptr) return;
    ::SetWindowTextW(label.text, label.caption.c_str());
    if (!announce) return;
    // Raised here for the static text object: Wine raises no name change for a new window
    // text, and Windows raises it for the window object only.
    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, label.text, OBJID_CLIENT, CHILDID_SELF);
    ::NotifyWinEvent(kEventObjectLiveRegionChanged, label.text, OBJID_CLIENT, CHILDID_SELF);
}

void LauncherWindowWin32::SetStatusCaption(const std::string& text) {
    if (Change(lblStatus, lblStatus.caption, Widen(text))) Rename(lblStatus, true);
}

void LauncherWindowWin32::SetStatusForeColor(std::uint32_t colorRef) {
    Change(lblStatus, lblStatus.foreColor, colorRef & 0x00FFFFFFu);
}

void LauncherWindowWin32::SetPercentCaption(const std::string& text) {
    if (!Change(lblPercent, lblPercent.caption, Widen(text))) return;
    // The name follows every step, but a reader hears the percentage only as it passes a tenth
    // and at 100 %, or it would hear of nothing else; an amount received is not told.
    const wchar_t* digits = lblPercent.caption.c_str();
    wchar_t* end = nullptr;
    const long percent = std::wcstol(digits, &end, 10);
    const bool tell = end != digits && lblPercent.caption.back() == L'%' &&
                      percent / 10 != announcedPercent_ / 10;
    if (tell) announcedPercent_ = static_cast<int>(percent);
    Rename(lblPercent, tell);
}

void LauncherWindowWin32::SetPercentVisible(bool visible) {
    if (Change(lblPercent, lblPercent.visible, visible) && window_ != nullptr)
        ::ShowWindow(lblPercent.text, visible ? SW_SHOWNA : SW_HIDE);
}

void LauncherWindowWin32::Paint() {
    PAINTSTRUCT ps;
    const HDC target = ::BeginPaint(window_, &ps);
    if (target == nullptr) return;  // nothing to paint into; Windows validates the area itself
    RECT client;
    ::GetClientRect(window_, &client);
    const int width = client.right;
    const int height = client.bottom;

    // Compose in memory and copy once: the labels never flash over a half-drawn picture.
    const HDC canvas = ::CreateCompatibleDC(target);
    const HBITMAP canvasBitmap =
        ::CreateCompatibleBitmap(target, std::max(width, 1), std::max(height, 1));
    if (canvas != nullptr && canvasBitmap != nullptr) {
        {
            Selection canvasSelection(canvas, canvasBitmap);
            const HBRUSH background = ::CreateSolidBrush(window::kFormBackColor);
            ::FillRect(canvas, &client, background);
            ::DeleteObject(background);

            const HDC pictureDc = ::CreateCompatibleDC(target);
            if (pictureDc != nullptr) {
                Selection pictureSelection(pictureDc, picture_.get());
                ::BitBlt(canvas, 0, 0, scaled_.width, scaled_.height, pictureDc, 0, 0, SRCCOPY);
            }
            if (pictureDc != nullptr) ::DeleteDC(pictureDc);

            ::SetBkMode(canvas, TRANSPARENT);
            for (const Label* label :
                 {&lblStatus, &lblPercent}) {  // bottom of the stacking order first
                if (!label->visible || label->caption.empty()) continue;
                const window::PixelRect r = LabelRect(*label);
                RECT area{r.left, r.top, r.right, r.bottom};
                Selection fontSelection(canvas, label->font.get());
                ::SetTextColor(canvas, label->foreColor);
                // Without DT_NOCLIP the text is clipped to the label: a third wrapped line never
                // spills onto the picture below.
                ::DrawTextW(canvas, label->caption.c_str(), static_cast<int>(label->caption.size()),
                            &area, kLabelFormat);
            }
            ::BitBlt(target, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                     ps.rcPaint.bottom - ps.rcPaint.top, canvas, ps.rcPaint.left, ps.rcPaint.top,
                     SRCCOPY);
        }
    }
    if (canvasBitmap != nullptr) ::DeleteObject(canvasBitmap);
    if (canvas != nullptr) ::DeleteDC(canvas);
    ::EndPaint(window_, &ps);
}

void LauncherWindowWin32::Show() {
    if (shown_ || window_ == nullptr) return;
    RECT frame;
    if (!::GetWindowRect(window_, &frame)) ThrowLastError("GetWindowRect");
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    // The work area of the monitor the window is on (the primary one while it is hidden at
    // 0,0), so a taskbar does not push the window off centre.
    if (!::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &monitor.rcWork, 0))
            ThrowLastError("SPI_GETWORKAREA");
    }
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = work.left + (work.right - work.left - width) / 2;
    const int y = work.top + (work.bottom - work.top - height) / 2;
    if (!::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        ThrowLastError("SetWindowPos (centre)");
    }
    ::ShowWindow(window_, SW_SHOW);
    ::UpdateWindow(window_);
    shown_ = true;
}

void LauncherWindowWin32::SetUpAccessibility() {
    if (window_ != nullptr) MarkPoliteLiveRegions({lblStatus.text, lblPercent.text});
}

void LauncherWindowWin32::MsgBox(const std::string& text, const std::string& title, int style) {
    const std::wstring wideText = Widen(text);
    const std::wstring wideTitle = Widen(title);
    // Modal to the launcher window; its own message loop keeps dispatching our timers and
    // socket notifications, whose failures are held and rethrown below.
    // Owned by the launcher window once it is shown; before that (a failure while it is still
    // hidden) an owned box could open behind other windows where the user never finds it.
    const int answer = ::MessageBoxW(shown_ ? window_ : nullptr, wideText.c_str(),
                                     wideTitle.c_str(), static_cast<UINT>(style));
    RethrowHeldFailure();
    if (answer == 0) ThrowLastError("MessageBoxW");
}

void LauncherWindowWin32::Unload() {
    Destroy();
}

void LauncherWindowWin32::SetBorderStyleNone() {
    if (window_ == nullptr) throw Win32Error(ERROR_INVALID_WINDOW_HANDLE, "SetBorderStyleNone");
    constexpr LONG_PTR kFrameStyles = WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX |
                                      WS_MAXIMIZEBOX | WS_BORDER | WS_DLGFRAME;
    constexpr LONG_PTR kFrameExStyles =
        WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CLIENTEDGE | WS_EX_STATICEDGE;
    const LONG_PTR style = ::GetWindowLongPtrW(window_, GWL_STYLE);
    const LONG_PTR exStyle = ::GetWindowLongPtrW(window_, GWL_EXSTYLE);
    // SetWindowLongPtr returns the old value, which may be 0; only a 0 with an error set fails.
    ::SetLastError(0);
    if (::SetWindowLongPtrW(window_, GWL_STYLE, (style & ~kFrameStyles) | WS_POPUP) == 0 &&
        ::GetLastError() != 0) {
        ThrowLastError("SetWindowLongPtrW GWL_STYLE");
    }
    ::SetLastError(0);
    if (::SetWindowLongPtrW(window_, GWL_EXSTYLE, exStyle & ~kFrameExStyles) == 0 &&
        ::GetLastError() != 0) {
        ThrowLastError("SetWindowLongPtrW GWL_EXSTYLE");
    }
    // Cached frame sizes are only recomputed on SWP_FRAMECHANGED.
    if (!::SetWindowPos(
            window_, nullptr, 0, 0, 0, 0,
            SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        ThrowLastError("SetWindowPos (frame)");
    }
}

// The picture's size is a physical one: 200 x 98 pixels at 96 dpi cover round(200 s) x
// round(98 s) pixels at s = dpi / 96, and that is the picture the window shows and is cut to.
int LauncherWindowWin32::PictureWidthPixels() {
    return scaled_.width;
}
int LauncherWindowWin32::PictureHeightPixels() {
    return scaled_.height;
}
// Whole twips per pixel: 15 at 96 dpi, 12 at 120, 7 at 192; sizes set through them come back
// as the same whole pixels.
int LauncherWindowWin32::TwipsPerPixelX() {
    return std::max(1, window::kTwipsPerInch / dpi_);
}
int LauncherWindowWin32::TwipsPerPixelY() {
    return TwipsPerPixelX();
}

void LauncherWindowWin32::SetOuterSizeTwips(int width, int height) {
    if (window_ == nullptr) throw Win32Error(ERROR_INVALID_WINDOW_HANDLE, "SetOuterSizeTwips");
    if (!::SetWindowPos(window_, nullptr, 0, 0, TwipsToPixels(width, TwipsPerPixelX()),
                        TwipsToPixels(height, TwipsPerPixelY()),
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE)) {
        ThrowLastError("SetWindowPos (size)");
    }
}

window::Pixels LauncherWindowWin32::ReadPicture() {
    return scaled_;
}

std::uintptr_t LauncherWindowWin32::ApplyRegion(const std::vector<window::PixelRect>& rects) {
    if (window_ == nullptr) throw Win32Error(ERROR_INVALID_WINDOW_HANDLE, "ApplyRegion");
    const HRGN region = reinterpret_cast<HRGN>(CreateRegionFromRects(rects));
    if (region == nullptr) return 0;
    // From here the window owns the region and frees it when destroyed or given another.
    if (!::SetWindowRgn(window_, region, TRUE)) {
        ::DeleteObject(region);
        return 0;
    }
    shaped_ = true;
    return reinterpret_cast<std::uintptr_t>(region);
}

}  // namespace gor::platform::win32
