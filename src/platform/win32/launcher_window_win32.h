// frmLaunch's window on Win32: a hidden frameless top-level window that paints the
// launcher picture and the two labels lblStatus and lblPercent, and lets the shaping
// routine resize it and cut it to a region. The whole window is scaled to the resolution of
// the monitor it is on (picture, outline, labels and fonts), and again when that changes.
// Each label is also static text that assistive technology reads and hears change.
// One UI thread; every failure throws std::system_error (or is held at the window procedure
// and rethrown by the event loop).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/launcher_window.h"
#include "platform/win32/owned_window.h"
#include "window/layout.h"

struct HWND__;
struct HBITMAP__;
struct HFONT__;

namespace gor::platform::win32 {

class LauncherWindowWin32 final : public LauncherWindow {
  public:
    // Creates the window hidden, with its design size at the resolution of the monitor it is
    // on, from the executable's resources (program icon and launcher picture).
    LauncherWindowWin32();
    ~LauncherWindowWin32() override;
    LauncherWindowWin32(const LauncherWindowWin32&) = delete;
    LauncherWindowWin32& operator=(const LauncherWindowWin32&) = delete;

    void SetStatusCaption(const std::string& text) override;
    void SetStatusForeColor(std::uint32_t colorRef) override;
    void SetPercentCaption(const std::string& text) override;
    void SetPercentVisible(bool visible) override;
    void Show() override;
    void MsgBox(const std::string& text, const std::string& title, int style) override;
    void Unload() override;
    // Marks the two lines as polite live regions; throws when COM or the annotation service
    // cannot be had.
    void SetUpAccessibility() override;

    void SetBorderStyleNone() override;
    int PictureWidthPixels() override;
    int PictureHeightPixels() override;
    int TwipsPerPixelX() override;
    int TwipsPerPixelY() override;
    void SetOuterSizeTwips(int width, int height) override;
    window::Pixels ReadPicture() override;
    std::uintptr_t ApplyRegion(const std::vector<window::PixelRect>& rects) override;

    // The window handle, or null once the window is destroyed.
    HWND__* Handle() const { return window_; }
    // Destroys the window if it still exists; never throws (used on the way out of the process).
    void Destroy() noexcept;

  private:
    struct DeleteGdiObject {
        void operator()(void* object) const;
    };
    template <class Object>
    using Gdi = std::unique_ptr<Object, DeleteGdiObject>;

    // A label painted by the window itself, so it has no background of its own. Its caption is
    // also the name of a STATIC child window over it that paints nothing: the system serves
    // that one to assistive technology as static text. It takes neither focus nor mouse input.
    struct Label {
        const window::LabelDesign* design = nullptr;
        std::wstring caption;
        std::uint32_t foreColor = 0;
        bool visible = true;
        Gdi<HFONT__> font;
        HWND__* text = nullptr;  // the accessible STATIC; destroyed with the window
    };
    // The window's messages (see owned_window.h).
    static bool HandleMessage(void* owner, HWND__* window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t& result);

    static Label MakeLabel(const window::LabelDesign& design);
    window::PixelRect LabelRect(const Label& label) const;
    // The window's outer size at `dpi`: the scaled picture once shaped, else the design size.
    std::pair<int, int> SizeAtDpi(int dpi) const;
    // Rebuilds the picture and the fonts for `dpi` (all made before the old ones are let go)
    // and the window's size and, once shaped, its outline.
    void ScaleTo(int dpi);
    // WM_DPICHANGED: takes the suggested place at the new resolution and rebuilds everything.
    void DpiChanged(int dpi, int left, int top);
    void InvalidateLabel(const Label& label);
    // Sets one property of `label` and repaints it, only when the value really changes:
    // the percentage is set after every received chunk but changes a hundred times at most.
    // Returns whether it changed.
    template <class Value>
    bool Change(const Label& label, Value& property, Value value) {
        if (property == value) return false;
        property = std::move(value);
        InvalidateLabel(label);
        return true;
    }
    // Makes the label's STATIC, and places it over the label at the current resolution.
    void MakeText(Label& label);
    void PlaceText(const Label& label);
    // Gives the label's STATIC its new caption as its name, and tells assistive technology
    // when `announce`.
    void Rename(const Label& label, bool announce);
    void Paint();

    const WindowOwner owner_{this, &HandleMessage};
    HWND__* window_ = nullptr;
    window::Pixels design_;   // the launcher picture as made, at 96 dpi
    window::Pixels scaled_;   // the picture at dpi_, as painted and cut
    Gdi<HBITMAP__> picture_;  // scaled_ as a DIB section: exact colours on any display
    int dpi_ = window::kDesignDpi;
    bool shaped_ = false;
    bool shown_ = false;
    int announcedPercent_ = -10;  // the percentage last told, so the next is told 10 % on
    Label lblStatus;
    Label lblPercent;
};

}  // namespace gor::platform::win32
