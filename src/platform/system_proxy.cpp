// What the system's proxy settings hold that must not reach the log.
#include "platform/system_proxy.h"

#include <algorithm>
#include <cctype>

namespace gor::platform {

std::string WithoutUserInfo(std::string_view text) {
    // The user information ends at the last "@" before the path, and begins after the
    // scheme's "://", else after a Windows list's "scheme=", else at the start.
    constexpr auto npos = std::string_view::npos;
    const std::size_t scheme = text.find("://");
    const std::size_t equals = text.find('=');
    const bool named =
        equals != npos && std::all_of(text.begin(), text.begin() + equals, [](char c) {
            return std::isalpha(static_cast<unsigned char>(c)) != 0;
        });
    const std::size_t start = scheme != npos ? scheme + 3 : named ? equals + 1 : 0;
    const std::size_t at = text.rfind('@', text.find_first_of("/?#", start));
    std::string cleaned(text);
    if (at != npos && at >= start) cleaned.erase(start, at + 1 - start);
    return cleaned;
}

}  // namespace gor::platform
