// How both platform layers say what a failed system call was doing, so that a failure reads
// the same on every system: the call, then the path it worked on and, for a rename, the
// second path, each quoted: "rename 'C:\Games\gorupd.tmp' to 'C:\Games\gorupd.exe'".
#pragma once

#include <string>
#include <string_view>

namespace gor::platform {

inline std::string FailedCall(std::string_view function, std::string_view path = {},
                              std::string_view secondPath = {}) {
    std::string text(function);
    if (path.empty()) return text;
    text.append(" '").append(path).append("'");
    if (!secondPath.empty()) text.append(" to '").append(secondPath).append("'");
    return text;
}

}  // namespace gor::platform
