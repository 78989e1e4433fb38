// POSIX error codes as readable std::system_error and socket failures' texts: the one place
// where an errno value becomes an exception with a message, and a name lookup's code a text
// and a condition.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace gor::platform::posix {

// A socket failure's text: a failed name lookup's (a getaddrinfo EAI_* code, negative) in the
// system's words, else the portable condition's (SocketFailureText), else the system's
// description of the errno value.
std::string SocketErrorText(int code);

// A socket failure's portable condition: an errno value is its own; a name that gives no
// address, or whose name server did not answer in time (EAI_AGAIN), leaves the host as
// unreachable as a missing route does.
int SocketCondition(int code);

// The exception for `code` raised by `function`, working on `path` and, for a rename, on
// `secondPath` (see platform/system_failure.h for how they are worded).
std::system_error PosixError(int code, std::string_view function, std::string_view path = {},
                             std::string_view secondPath = {});

// Throws PosixError(errno, ...). Call it right after the failing system call.
[[noreturn]] void ThrowLastError(std::string_view function, std::string_view path = {},
                                 std::string_view secondPath = {});

}  // namespace gor::platform::posix
