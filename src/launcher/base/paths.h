// How the launcher names files in its own folder: the folder, one separator, the file name,
// joined as plain text with nothing normalised or quoted.
#pragma once

namespace gor::launcher {

// The separator that begins "\gorupd.exe" and "\gorupd.new". The same on every build: the
// platform layer makes such a path native where its system separates differently.
inline constexpr const char* kPathSeparator = "\\";

// The updater's own name: its file's in the folder, and the one a pinned publisher gives it.
inline constexpr const char* kUpdaterName = "gorupd.exe";

}  // namespace gor::launcher
