// ShapeModule's ShapeFormToPicture: cuts a frameless launcher window to the outline of its
// picture through the window's own shaping operations (the outline is window::OpaqueRuns).
#pragma once

#include <cstdint>

#include "platform/launcher_window.h"

namespace gor::launcher {

// Makes TargetForm frameless, sizes it to exactly its picture (W x H pixels at the display's
// twips per pixel) and gives it the region of all picture pixels whose colour differs from
// TransparentColor in any of its 32 bits. Returns the region handle, which the window owns,
// or 0 when no region could be made (the window then stays rectangular).
// Runs on the UI thread before the form is first shown. Whatever a form operation throws
// passes to the caller at once and the remaining steps are skipped; a picture whose pixels
// do not match its stated size throws std::runtime_error.
std::uintptr_t ShapeFormToPicture(platform::LauncherWindow& TargetForm,
                                  std::int32_t TransparentColor);

}  // namespace gor::launcher
