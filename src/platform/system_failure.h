// How both platform layers say what failed, so that a failure reads the same on every system:
// what a failed system call was doing (the call, then the path it worked on and, for a rename,
// the second path, each quoted: "rename 'C:\Games\gorupd.tmp' to 'C:\Games\gorupd.exe'"),
// and the words for a socket failure's portable condition.
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

// Our own words for a socket failure's portable condition (a std::errc value: "The connection
// was refused"), the same on every system; null for a condition without them, which the
// system's own text then says. A failed name lookup keeps the system's words for it.
const char* SocketFailureText(int condition);

}  // namespace gor::platform
