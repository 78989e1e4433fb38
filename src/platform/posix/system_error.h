// The one place where system error codes become readable texts and exceptions.
#pragma once

#include <string>
#include <string_view>

namespace gor::platform::posix {

// The system's readable description of an errno value ("Connection refused").
std::string ErrorText(int code);

// Throws std::system_error for `code` raised by `function`, working on `path` and, for a
// rename, on `secondPath` (see platform/system_failure.h for how they are worded).
[[noreturn]] void ThrowSystemError(int code, std::string_view function, std::string_view path = {},
                                   std::string_view secondPath = {});

// Same, with errno as the code.
[[noreturn]] void ThrowErrno(std::string_view function, std::string_view path = {},
                             std::string_view secondPath = {});

}  // namespace gor::platform::posix
