// UTF-8 <-> UTF-16 conversion with MultiByteToWideChar / WideCharToMultiByte.
#include "platform/win32/wide_text.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    if (utf8.size() > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("Widen: text too long");
    const int inLength = static_cast<int>(utf8.size());
    // MB_ERR_INVALID_CHARS: a malformed path must fail loudly, not name another file.
    const int outLength =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, nullptr, 0);
    if (outLength <= 0) ThrowLastError("MultiByteToWideChar");
    std::wstring result(static_cast<std::size_t>(outLength), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLength, result.data(),
                              outLength) != outLength) {
        ThrowLastError("MultiByteToWideChar");
    }
    return result;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    if (utf16.size() > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("Narrow: text too long");
    const int inLength = static_cast<int>(utf16.size());
    const int outLength =
        ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (outLength <= 0) ThrowLastError("WideCharToMultiByte");
    std::string result(static_cast<std::size_t>(outLength), '\0');
    if (::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), inLength, result.data(), outLength, nullptr,
                              nullptr) != outLength) {
        ThrowLastError("WideCharToMultiByte");
    }
    return result;
}

}  // namespace gor::platform::win32
