// The order of a connection race over a host's addresses, and the port's reading.
#include "platform/address_race.h"

#include <algorithm>

namespace gor::platform {

std::vector<std::size_t> RaceOrder(const std::vector<int>& families,
                                   std::optional<std::size_t> preferred) {
    std::vector<std::size_t> first, second;  // the first address's family, and the other
    for (std::size_t i = 0; i < families.size(); ++i) {
        if (i == preferred) continue;
        (families[i] == families.front() ? first : second).push_back(i);
    }
    std::vector<std::size_t> order;
    if (preferred && *preferred < families.size()) order.push_back(*preferred);
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) order.push_back(first[i]);
        if (i < second.size()) order.push_back(second[i]);
    }
    return order;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min(value * 10 + static_cast<unsigned long>(c - '0'), 65536ul);
    }
    if (text.empty() || value == 0 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace gor::platform
