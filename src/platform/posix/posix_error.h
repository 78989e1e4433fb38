// POSIX error codes as readable std::system_error: the one place where an errno value
// becomes an exception with a message.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace gor::platform::posix {

// The system's readable description of an errno value ("Connection refused").
std::string ErrorText(int code);

// The exception for `code` raised by `function`, working on `path` and, for a rename, on
// `secondPath` (see platform/system_failure.h for how they are worded).
std::system_error PosixError(int code, std::string_view function, std::string_view path = {},
                             std::string_view secondPath = {});

// Throws PosixError(errno, ...). Call it right after the failing system call.
[[noreturn]] void ThrowLastError(std::string_view function, std::string_view path = {},
                                 std::string_view secondPath = {});

}  // namespace gor::platform::posix
