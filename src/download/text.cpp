// Text helpers shared by the URL and the answer parsers.
#include "download/text.h"

#include <stdexcept>

namespace gor::download {

std::string_view TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
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
