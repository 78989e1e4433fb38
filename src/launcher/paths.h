// How the launcher names files in its own folder: the folder, one separator, the file name,
// joined as plain text with nothing normalised or quoted.
#pragma once

namespace gor::launcher {

// The separator that begins "\gorupd.exe" and "\gorupd.new". The same on every build: the
// platform layer makes such a path native where its system separates differently.
inline constexpr const char* kPathSeparator = "\\";

}  // namespace gor::launcher
