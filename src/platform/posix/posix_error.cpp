// Translation of errno values and name lookups' codes into readable texts, portable conditions
// and std::system_error.
#include "platform/posix/posix_error.h"

#include <netdb.h>

#include <cerrno>

#include "platform/system_failure.h"

namespace gor::platform::posix {

SocketFailure SocketFailureOf(int code) {
    SocketFailure failure{std::errc(code > 0 ? code : EHOSTUNREACH), code, {}};
    if (code < 0) {
        failure.text = ::gai_strerror(code);  // getaddrinfo's own codes are negative
    } else if (const char* words = SocketFailureText(code)) {
        failure.text = words;
    } else {
        failure.text = std::system_category().message(code);
    }
    return failure;
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
