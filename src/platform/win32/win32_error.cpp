// Translation of Win32 error codes into std::system_error with the system's message text.
#include "platform/win32/win32_error.h"

#include <windows.h>

#include <string_view>

#include "platform/win32/wide_text.h"

namespace gor::platform::win32 {
namespace {

class Win32ErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "win32"; }

    std::string message(int code) const override {
        wchar_t* buffer = nullptr;
        // FROM_SYSTEM covers both Win32 and WinSock codes; IGNORE_INSERTS because some
        // messages carry %1 placeholders we have no arguments for.
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
            reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (length == 0 || buffer == nullptr) {
            return "error " + std::to_string(static_cast<unsigned long>(code));
        }
        std::wstring_view text(buffer, length);
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                                 text.back() == L'.')) {
            text.remove_suffix(1);
        }
        std::string result;
        try {
            result = Narrow(text);
        } catch (...) {
            ::LocalFree(buffer);
            throw;
        }
        ::LocalFree(buffer);
        return result + " (" + std::to_string(static_cast<unsigned long>(code)) + ")";
    }
};

}  // namespace

const std::error_category& Win32Category() {
    static const Win32ErrorCategory category;
    return category;
}

std::system_error Win32Error(unsigned long code, const std::string& what) {
    return std::system_error(static_cast<int>(code), Win32Category(), what);
}

void ThrowLastError(const std::string& what) {
    const DWORD code = ::GetLastError();
    throw Win32Error(code, what);
}

}  // namespace gor::platform::win32
