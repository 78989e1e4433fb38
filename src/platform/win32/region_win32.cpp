// One ExtCreateRegion call from pixel rectangles: the RGNDATA header, then the rectangles.
#include "platform/win32/region_win32.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace gor::platform::win32 {

std::uintptr_t CreateRegionFromRects(const std::vector<window::PixelRect>& rects) {
    if (rects.size() > (static_cast<std::size_t>(INT_MAX) - sizeof(RGNDATAHEADER)) / sizeof(RECT)) {
        throw std::length_error("CreateRegionFromRects: too many rectangles");
    }
    // RGNDATA is a variable-length structure; build it in DWORD-aligned storage.
    const std::size_t rectBytes = rects.size() * sizeof(RECT);
    const std::size_t bytes = sizeof(RGNDATAHEADER) + rectBytes;
    std::vector<DWORD> storage((bytes + sizeof(DWORD) - 1) / sizeof(DWORD));
    RGNDATAHEADER header{};
    header.dwSize = sizeof header;
    header.iType = RDH_RECTANGLES;
    header.nCount = static_cast<DWORD>(rects.size());
    header.nRgnSize = static_cast<DWORD>(rectBytes);
    header.rcBound = {0, 0, 0, 0};
    auto* out = reinterpret_cast<unsigned char*>(storage.data()) + sizeof header;
    for (std::size_t i = 0; i < rects.size(); ++i) {
        const window::PixelRect& r = rects[i];
        const RECT rect{r.left, r.top, r.right, r.bottom};
        std::memcpy(out, &rect, sizeof rect);
        out += sizeof rect;
        if (i == 0) {
            header.rcBound = rect;
        } else {
            header.rcBound.left = std::min<LONG>(header.rcBound.left, r.left);
            header.rcBound.top = std::min<LONG>(header.rcBound.top, r.top);
            header.rcBound.right = std::max<LONG>(header.rcBound.right, r.right);
            header.rcBound.bottom = std::max<LONG>(header.rcBound.bottom, r.bottom);
        }
    }
    std::memcpy(storage.data(), &header, sizeof header);
    const HRGN region = ::ExtCreateRegion(nullptr, static_cast<DWORD>(bytes),
                                          reinterpret_cast<const RGNDATA*>(storage.data()));
    return reinterpret_cast<std::uintptr_t>(region);
}

}  // namespace gor::platform::win32
