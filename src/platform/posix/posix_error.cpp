// Translation of errno values into readable texts and std::system_error.
#include "platform/posix/posix_error.h"

#include <cerrno>

#include "platform/system_failure.h"

namespace gor::platform::posix {

std::string ErrorText(int code) {
    return std::system_category().message(code);
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
