// Paths as the portable core hands them over, made native. A folder and a name joined the
// Windows way ("<folder>\gorupd.exe") work as well, so a backslash is taken as a separator.
#pragma once

#include <algorithm>
#include <string>

namespace gor::platform::posix {

inline std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace gor::platform::posix
