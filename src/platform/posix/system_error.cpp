// Translation of errno values into readable texts and std::system_error.
#include "platform/posix/system_error.h"

#include <cerrno>
#include <system_error>

namespace gor::platform::posix {

std::string ErrorText(int code) {
    return std::system_category().message(code);
}

void ThrowSystemError(int code, std::string_view operation, std::string_view path) {
    std::string context(operation);
    if (!path.empty()) {
        context += " '";
        context += path;
        context += '\'';
    }
    throw std::system_error(code, std::system_category(), context);
}

void ThrowErrno(std::string_view operation, std::string_view path) {
    ThrowSystemError(errno, operation, path);
}

}  // namespace gor::platform::posix
