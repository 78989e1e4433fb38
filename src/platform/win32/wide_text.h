// UTF-8 <-> UTF-16 conversion at the border between the core (UTF-8 strings)
// and the Win32 API (wide strings), so any folder name survives the trip.
#pragma once

#include <string>
#include <string_view>

namespace gor::platform::win32 {

// Throws std::system_error when `utf8` is not valid UTF-8.
std::wstring Widen(std::string_view utf8);
// Unpaired surrogates (possible in NTFS names) become U+FFFD.
std::string Narrow(std::wstring_view utf16);

}  // namespace gor::platform::win32
