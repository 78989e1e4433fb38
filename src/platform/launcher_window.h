// The launcher window as the launch logic and the shaping routine see it:
// two labels, visibility, a modal message box, and the picture-and-region
// operations that cut the window to its picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "window/pixels.h"

namespace gor::platform {

// Message box style 48: exclamation icon, OK button only.
inline constexpr int kMsgExclamationOk = 48;

class LauncherWindow {
  public:
    virtual ~LauncherWindow() = default;

    // --- what the launch logic changes at run time
    virtual void SetStatusCaption(const std::string& text) = 0;   // lblStatus
    virtual void SetStatusForeColor(std::uint32_t colorRef) = 0;  // lblStatus, 0x00BBGGRR
    virtual void SetPercentCaption(const std::string& text) = 0;  // lblPercent
    virtual void SetPercentVisible(bool visible) = 0;             // lblPercent
    virtual void Show() = 0;  // first show centres the window; later calls change nothing
    // Modal box; returns when the user has answered. Window events keep being dispatched.
    virtual void MsgBox(const std::string& text, const std::string& title, int style) = 0;
    // Closes the window (unload); the program ends right after.
    virtual void Unload() = 0;
    // What assistive technology gets beyond the labels' own accessible names (a screen reader
    // speaks a new caption unasked). An extra: throws when it cannot be set up, and the window
    // works the same without it.
    virtual void SetUpAccessibility() = 0;

    // --- what the shaping routine uses (the window is still hidden then)
    virtual void SetBorderStyleNone() = 0;
    virtual int PictureWidthPixels() = 0;
    virtual int PictureHeightPixels() = 0;
    virtual int TwipsPerPixelX() = 0;
    virtual int TwipsPerPixelY() = 0;
    virtual void SetOuterSizeTwips(int width, int height) = 0;
    virtual window::Pixels ReadPicture() = 0;
    // Builds one region from `rects` (their union) and gives it to the window, which owns it
    // from then on and is redrawn. Returns the region handle, or 0 when none could be made
    // (the window then keeps its rectangular shape).
    virtual std::uintptr_t ApplyRegion(const std::vector<window::PixelRect>& rects) = 0;
};

}  // namespace gor::platform
