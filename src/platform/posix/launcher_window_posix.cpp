// The console view of the launcher window: one flushed line per change.
#include "platform/posix/launcher_window_posix.h"

namespace gor::platform::posix {

namespace {

// One change is one line: line breaks inside a text are shown escaped.
std::string OneLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace

void LauncherWindowPosix::Line(const std::string& text) {
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void LauncherWindowPosix::SetStatusCaption(const std::string& text) {
    Line("status: " + OneLine(text));
}

void LauncherWindowPosix::SetStatusForeColor(std::uint32_t colorRef) {
    Line("status-color: " + std::to_string(colorRef));
}

void LauncherWindowPosix::SetPercentCaption(const std::string& text) {
    Line("percent: " + OneLine(text));
}

void LauncherWindowPosix::SetPercentVisible(bool visible) {
    Line(std::string("percent-visible: ") + (visible ? "1" : "0"));
}

void LauncherWindowPosix::Show() {
    if (shown_) return;  // later calls change nothing
    shown_ = true;
    Line("show");
}

void LauncherWindowPosix::MsgBox(const std::string& text, const std::string& title, int /*style*/) {
    Line("msgbox [" + OneLine(title) + "] " + OneLine(text));
}

void LauncherWindowPosix::Unload() {
    Line("unload");
}

void LauncherWindowPosix::SetBorderStyleNone() {
    Line("border-style: none");
}

void LauncherWindowPosix::SetOuterSizeTwips(int width, int height) {
    Line("size-twips: " + std::to_string(width) + "x" + std::to_string(height));
}

window::Pixels LauncherWindowPosix::ReadPicture() {
    window::Pixels picture;
    picture.width = window::kPictureWidthPixels;
    picture.height = window::kPictureHeightPixels;
    picture.colors.assign(static_cast<std::size_t>(picture.width) * picture.height, 0x000000u);
    return picture;
}

std::uintptr_t LauncherWindowPosix::ApplyRegion(const std::vector<window::PixelRect>& rects) {
    Line("region: " + std::to_string(rects.size()) + " rectangles");
    return 1;
}

}  // namespace gor::platform::posix
