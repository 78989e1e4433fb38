// The design of the launcher window frmLaunch and its controls: positions and sizes in
// twips, colours as 0x00BBGGRR, font sizes in points. The window backends build from these.
#pragma once

#include <cstdint>
#include <string_view>

namespace gor::window {

// A control's place in twips: left, top, width, height (1440 twips to the inch).
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct FontDesign {
    std::string_view face;
    double points = 0;
    bool bold = false;
    bool italic = false;
};

// A label draws no background, centres its text, wraps at word boundaries and clips
// to its height; it takes no focus and no mouse input.
struct LabelDesign {
    TwipsRect place;
    std::string_view caption;
    std::uint32_t foreColor = 0;
    FontDesign font;
    bool visible = true;
};

// Colour reference 0x00BBGGRR from its three components.
constexpr std::uint32_t Rgb(int red, int green, int blue) {
    return static_cast<std::uint32_t>(red) | static_cast<std::uint32_t>(green) << 8 |
           static_cast<std::uint32_t>(blue) << 16;
}

// The design is made at 96 dots per inch: every pixel figure below assumes this ratio, and
// at another resolution the whole window is scaled by dpi / 96 (window/scaling.h).
inline constexpr int kDesignDpi = 96;
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kTwipsPerPixelAt96Dpi = kTwipsPerInch / kDesignDpi;

// --- frmLaunch
inline constexpr std::string_view kFormCaption = "Gorvik Online Launcher";
// Drawing area before shaping (206 x 103 px); shaping sets the whole window to the picture.
inline constexpr int kFormDesignWidthTwips = 3090;
inline constexpr int kFormDesignHeightTwips = 1545;
inline constexpr int kPictureWidthPixels = 200;
inline constexpr int kPictureHeightPixels = 98;
// Red 64, green 64, blue 0: fills the picture's holes and is the window's background, so
// the background never shows once the holes are cut.
inline constexpr std::int32_t kTransparentColor = 16448;
inline constexpr std::uint32_t kFormBackColor = static_cast<std::uint32_t>(kTransparentColor);

// Controls, from the bottom of the stacking order to the top.
inline constexpr LabelDesign lblStatus{
    {1320, 680, 1500, 540}, "Initializing", Rgb(192, 255, 255), {"Tahoma", 9, true, false}, true};
// lblStatus's colour once the launch has failed ("Error Downloading", "Terminating").
inline constexpr std::uint32_t kStatusFailureColor = Rgb(255, 0, 0);
inline constexpr LabelDesign lblPercent{
    {1320, 1140, 1515, 255}, "", Rgb(192, 255, 192), {"Tahoma", 8.25, true, true}, true};

}  // namespace gor::window
