// The launcher window of the unit tests: notes every visible change on the timeline (texts,
// colour, show, message box, unload), keeps the message box's arguments and what shaping asked
// of it (its steps in order, the outer size, the region), and can be told to fail on a chosen
// change or shaping step.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fakes/virtual_clock_loop.h"
#include "platform/launcher_window.h"
#include "window/layout.h"

namespace gor::test {

class RecordingWindow : public platform::LauncherWindow {
  public:
    explicit RecordingWindow(Timeline& timeline) : timeline_(timeline) {}

    std::string failOn;  // the change (as noted, e.g. "show") that throws instead

    // Shaping. The picture: 4 x 2 pixels whose left column is the transparent colour, unless
    // a test gives another.
    window::Pixels picture = DefaultPicture();
    int twipsX = 15, twipsY = 15;
    std::uintptr_t regionHandle = 1;
    std::string failShapingAt;  // the shaping step (as in shapingSteps) that throws
    std::vector<std::string> shapingSteps;
    int outerWidth = 0, outerHeight = 0;
    std::vector<window::PixelRect> applied;
    std::function<void(const std::string&)> afterChange;  // runs after each noted change

    // What the labels show now.
    std::string statusCaption, percentCaption;

    // The last message box.
    int msgBoxes = 0;
    std::string msgText, msgTitle;
    int msgStyle = 0;

    void SetStatusCaption(const std::string& text) override {
        Change("status=" + text);
        statusCaption = text;
    }
    void SetStatusForeColor(std::uint32_t colorRef) override {
        // The failure colour by its name, so the timelines need not restate its value.
        Change(colorRef == window::kStatusFailureColor ? std::string("color=failure")
                                                       : "color=" + std::to_string(colorRef));
    }
    void SetPercentCaption(const std::string& text) override {
        Change("percent=" + text);
        percentCaption = text;
    }
    void SetPercentVisible(bool visible) override {
        Change(visible ? "percent shown" : "percent hidden");
    }
    void Show() override { Change("show"); }
    void MsgBox(const std::string& text, const std::string& title, int style) override {
        ++msgBoxes;
        msgText = text;
        msgTitle = title;
        msgStyle = style;
        Change("msgbox");
    }
    void Unload() override { Change("unload"); }
    void SetUpAccessibility() override {  // not noted: most starts' timelines stay as they were
        if (failOn == "accessibility") throw std::runtime_error("window refused: accessibility");
    }

    void SetBorderStyleNone() override { Shaping("border none"); }
    int PictureWidthPixels() override { return Shaping("width"), picture.width; }
    int PictureHeightPixels() override { return Shaping("height"), picture.height; }
    int TwipsPerPixelX() override { return twipsX; }
    int TwipsPerPixelY() override { return twipsY; }
    void SetOuterSizeTwips(int width, int height) override {
        Shaping("size");
        outerWidth = width;
        outerHeight = height;
    }
    window::Pixels ReadPicture() override { return Shaping("read"), picture; }
    std::uintptr_t ApplyRegion(const std::vector<window::PixelRect>& rects) override {
        Shaping("region");
        applied = rects;
        Change("shaped");
        return regionHandle;
    }

  private:
    static window::Pixels DefaultPicture() {
        constexpr auto k = static_cast<std::uint32_t>(window::kTransparentColor);
        constexpr std::uint32_t o = 0xFFFFFF;
        return {4, 2, {k, o, o, o, k, o, o, o}};
    }
    void Change(const std::string& what) {
        faults.Call("window.Change", what, std::errc::not_enough_memory);
        if (what == failOn) throw std::runtime_error("window refused: " + what);
        timeline_.Note(what);
        if (afterChange) afterChange(what);
    }
    void Shaping(const std::string& step) {
        faults.Call("window.Shaping", step, std::errc::not_enough_memory);
        shapingSteps.push_back(step);
        if (step == failShapingAt) throw std::runtime_error(step + " failed");
    }

    Timeline& timeline_;
};

}  // namespace gor::test
