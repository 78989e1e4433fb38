// Translation of errno values into readable texts and std::system_error.
#include "platform/posix/system_error.h"

#include <cerrno>
#include <system_error>

#include "platform/system_failure.h"

namespace gor::platform::posix {

std::string ErrorText(int code) {
    return std::system_category().message(code);
}

void ThrowSystemError(int code, std::string_view function, std::string_view path,
                      std::string_view secondPath) {
    throw std::system_error(code, std::system_category(), FailedCall(function, path, secondPath));
}

void ThrowErrno(std::string_view function, std::string_view path, std::string_view secondPath) {
    ThrowSystemError(errno, function, path, secondPath);
}

}  // namespace gor::platform::posix
