// POSIX error codes as readable std::system_error and socket failures' texts: the one place
// where an errno value becomes an exception with a message, and a name lookup's code a text
// and a condition.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

#include "platform/socket_control.h"

namespace gor::platform::posix {

// The socket failure of an errno value or a failed name lookup's getaddrinfo EAI_* code
// (negative). Its condition: an errno value is its own; a name that gives no address, or whose
// name server did not answer in time (EAI_AGAIN), leaves the host as unreachable as a missing
// route does. Its text: a lookup's in the system's words, else the portable condition's
// (SocketFailureText), else the system's description of the errno value.
SocketFailure SocketFailureOf(int code);

// The exception for `code` raised by `function`, working on `path` and, for a rename, on
// `secondPath` (see platform/system_failure.h for how they are worded).
std::system_error PosixError(int code, std::string_view function, std::string_view path = {},
                             std::string_view secondPath = {});

// Throws PosixError(errno, ...). Call it right after the failing system call.
[[noreturn]] void ThrowLastError(std::string_view function, std::string_view path = {},
                                 std::string_view secondPath = {});

}  // namespace gor::platform::posix
