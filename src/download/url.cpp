// URL assignment: host, port and path from the text a host assigns to the control's URL.
#include "download/url.h"

#include <algorithm>
#include <stdexcept>

#include "download/number_rule.h"
#include "download/text.h"

namespace gor::download {
namespace {

constexpr std::string_view kScheme = "http://";
constexpr const char* kDefaultPort = "80";

std::string RemoveScheme(std::string_view url) {
    std::string out;
    out.reserve(url.size());
    std::size_t from = 0;
    for (auto at = url.find(kScheme); at != std::string_view::npos; at = url.find(kScheme, from)) {
        out.append(url.substr(from, at - from));
        from = at + kScheme.size();
    }
    out.append(url.substr(from));
    return out;
}

// A separator's 1-based position must fit the 16-bit position the URL is measured in.
void CheckPosition(std::size_t position) {
    if (position > kMaxUrlPosition) throw std::overflow_error("Overflow");
}

}  // namespace

void AssignUrl(std::string_view url, std::string& host, std::string& port, std::string& path) {
    port = kDefaultPort;
    host = TrimSpaces(RemoveScheme(url));

    const auto slash = host.find('/');
    if (slash != std::string::npos) {
        CheckPosition(slash + 1);
        path = host.substr(slash);
        host.resize(slash);
    } else {
        path = "/";
    }

    const auto colon = host.find(':');
    if (colon == std::string::npos) return;
    CheckPosition(colon + 1);
    std::string portText = host.substr(colon + 1);
    host.resize(colon);
    if (portText.empty()) return;  // "srv:" keeps the default port
    CheckPosition(colon + 2);      // the text after the colon starts one position further
    port = NumberText(NumberRule(portText));
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    std::uint64_t value = 0;
    if (!TakeDecimal(text, value) || !text.empty() || value == 0 || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace gor::download
