// The console view of the launcher window: every change the launch logic makes is printed
// as one line on standard output ("status: Downloading Updater", "percent: 25 %", "show",
// "msgbox [Error Launching] ...", "unload"), so a script can follow the launcher natively.
#pragma once

#include <cstdio>

#include "platform/launcher_window.h"
#include "window/layout.h"

namespace gor::platform::posix {

class LauncherWindowPosix final : public LauncherWindow {
  public:
    // Lines go to `out` (standard output by default) and are flushed one by one.
    explicit LauncherWindowPosix(std::FILE* out = stdout) : out_(out) {}

    void SetStatusCaption(const std::string& text) override;
    void SetStatusForeColor(std::uint32_t colorRef) override;
    void SetPercentCaption(const std::string& text) override;
    void SetPercentVisible(bool visible) override;
    void Show() override;
    // Printed, then answered at once as if OK had been pressed.
    void MsgBox(const std::string& text, const std::string& title, int style) override;
    void Unload() override;
    // The console's lines are plain text already: nothing to set up.
    void SetUpAccessibility() override {}

    void SetBorderStyleNone() override;
    // The launcher picture's size, on a screen of 96 dots per inch.
    int PictureWidthPixels() override { return window::kPictureWidthPixels; }
    int PictureHeightPixels() override { return window::kPictureHeightPixels; }
    int TwipsPerPixelX() override { return window::kTwipsPerPixelAt96Dpi; }
    int TwipsPerPixelY() override { return window::kTwipsPerPixelAt96Dpi; }
    void SetOuterSizeTwips(int width, int height) override;
    // A console has no picture: every pixel is opaque black, so the shape is the full rectangle.
    window::Pixels ReadPicture() override;
    // Prints the number of rectangles and returns a non-zero stand-in handle.
    std::uintptr_t ApplyRegion(const std::vector<window::PixelRect>& rects) override;

  private:
    void Line(const std::string& text);

    std::FILE* out_;
    bool shown_ = false;
};

}  // namespace gor::platform::posix
