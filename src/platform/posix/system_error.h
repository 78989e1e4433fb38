// The one place where system error codes become readable texts and exceptions.
#pragma once

#include <string>
#include <string_view>

namespace gor::platform::posix {

// The system's readable description of an errno value ("Connection refused").
std::string ErrorText(int code);

// Throws std::system_error for `code`; what() reads "<operation> '<path>': <description>",
// or "<operation>: <description>" when `path` is empty.
[[noreturn]] void ThrowSystemError(int code, std::string_view operation,
                                   std::string_view path = {});

// Same, with errno as the code.
[[noreturn]] void ThrowErrno(std::string_view operation, std::string_view path = {});

}  // namespace gor::platform::posix
