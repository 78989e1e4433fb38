// Paths as the portable core writes them, made native: the core joins a folder and a file
// name the Windows way ("<folder>\gorupd.exe"), so a backslash is taken as a separator here.
#pragma once

#include <algorithm>
#include <string>

namespace gor::platform::posix {

inline std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace gor::platform::posix
