// Translation of errno values and name lookups' codes into readable texts, portable conditions
// and std::system_error.
#include "platform/posix/posix_error.h"

#include <netdb.h>

#include <cerrno>

#include "platform/system_failure.h"

namespace gor::platform::posix {

std::string SocketErrorText(int code) {
    if (code < 0) return ::gai_strerror(code);  // getaddrinfo's own codes are negative
    if (const char* words = SocketFailureText(code)) return words;
    return std::system_category().message(code);
}

int SocketCondition(int code) {
    return code > 0 ? code : EHOSTUNREACH;
}

std::system_error PosixError(int code, std::string_view function, std::string_view path,
                             std::string_view secondPath) {
    return std::system_error(code, std::system_category(), FailedCall(function, path, secondPath));
}

void ThrowLastError(std::string_view function, std::string_view path, std::string_view secondPath) {
    const int code = errno;
    throw PosixError(code, function, path, secondPath);
}

}  // namespace gor::platform::posix
