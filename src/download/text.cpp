// Text helpers shared by the URL, the request and the answer parsers.
#include "download/text.h"

#include <limits>
#include <stdexcept>

namespace gor::download {

bool TakeDecimal(std::string_view& text, std::uint64_t& value, std::size_t most) {
    std::size_t n = 0;
    value = 0;
    for (; n < most && n < text.size() && IsDigit(text[n]); ++n) {
        const auto digit = static_cast<std::uint64_t>(text[n] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    text.remove_prefix(n);
    return n > 0;
}

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool IsTokenChar(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != '\0' && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsFieldTextChar(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return c == '\t' || (byte >= 0x20 && byte != 0x7f);
}

std::string ExtractString(const std::string& str, const std::string& cmp, std::int16_t no) {
    if (no < 0) throw std::out_of_range("Subscript out of range");
    if (str.empty()) return {};
    if (cmp.empty()) return no == 0 ? str : std::string();
    std::size_t start = 0;
    for (std::int16_t piece = 0; piece < no; ++piece) {
        const auto at = str.find(cmp, start);
        if (at == std::string::npos) return {};
        start = at + cmp.size();
    }
    const auto end = str.find(cmp, start);
    return str.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace gor::download
