// ShapeFormToPicture: sizing a frameless window to its picture and giving it the region of
// the picture's opaque runs.
#include "launcher/shape_form.h"

#include <stdexcept>
#include <vector>

#include "window/shape_module.h"

namespace gor::launcher {

std::uintptr_t ShapeFormToPicture(platform::LauncherWindow& TargetForm,
                                  std::int32_t TransparentColor) {
    // Without a frame the outer rectangle and the drawing area coincide, so the picture's
    // pixel coordinates are the region's coordinates.
    TargetForm.SetBorderStyleNone();
    const int W = TargetForm.PictureWidthPixels();
    const int H = TargetForm.PictureHeightPixels();
    // The window measures exactly W x H pixels whatever its design size and the display's dpi.
    TargetForm.SetOuterSizeTwips(W * TargetForm.TwipsPerPixelX(), H * TargetForm.TwipsPerPixelY());
    const window::Pixels picture = TargetForm.ReadPicture();
    if (picture.width != W || picture.height != H) {
        throw std::runtime_error("the picture read does not have the picture's size");
    }
    // Colour references compare in all 32 bits: only exact matches become holes.
    const std::vector<window::PixelRect> WindowRegion =
        window::OpaqueRuns(picture, static_cast<std::uint32_t>(TransparentColor));
    return TargetForm.ApplyRegion(WindowRegion);
}

}  // namespace gor::launcher
