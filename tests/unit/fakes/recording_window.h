// A launcher window for unit tests: notes every visible change on the timeline (texts,
// colour, show, message box, unload), keeps the message box's arguments, and can be told to
// fail on a chosen change or while being shaped.
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

    std::string failOn;        // the change (as noted, e.g. "show") that throws instead
    bool failShaping = false;  // the picture cannot be read
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

    // A 4 x 2 picture whose left column is the transparent colour.
    void SetBorderStyleNone() override { Shaping(); }
    int PictureWidthPixels() override { return Shaping(), 4; }
    int PictureHeightPixels() override { return Shaping(), 2; }
    int TwipsPerPixelX() override { return 15; }
    int TwipsPerPixelY() override { return 15; }
    void SetOuterSizeTwips(int, int) override {}
    platform::Pixels ReadPicture() override {
        Shaping();
        constexpr auto k = static_cast<std::uint32_t>(window::kTransparentColor);
        constexpr std::uint32_t o = 0xFFFFFF;
        return {4, 2, {k, o, o, o, k, o, o, o}};
    }
    std::uintptr_t ApplyRegion(const std::vector<platform::PixelRect>&) override {
        Change("shaped");
        return 1;
    }

  private:
    void Change(const std::string& what) {
        if (what == failOn) throw std::runtime_error("window refused: " + what);
        timeline_.Note(what);
        if (afterChange) afterChange(what);
    }
    void Shaping() {
        if (failShaping) throw std::runtime_error("picture unreadable");
    }

    Timeline& timeline_;
};

}  // namespace gor::test
