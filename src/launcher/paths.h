// How the launcher names files in its own folder: the folder, one separator, the file name,
// joined as plain text with nothing normalised or quoted.
#pragma once

namespace gor::launcher {

// The separator that begins "\gorupd.exe" and "\gorupd.new" on Windows; the native build
// runs in a POSIX folder and uses "/".
#ifdef _WIN32
inline constexpr const char* kPathSeparator = "\\";
#else
inline constexpr const char* kPathSeparator = "/";
#endif

}  // namespace gor::launcher
