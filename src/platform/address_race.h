// How both socket backends race a host's addresses for one connection: the order the
// addresses start in, and how far apart. Portable: the backends map it onto their sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace gor::platform {

// An address that has neither connected nor failed this long after its start no longer holds
// up the next one, which starts beside it: a route that swallows connection attempts costs a
// quarter of a second, not the connect budget.
inline constexpr int kRaceStaggerMilliseconds = 250;

// The order in which the addresses start: the system's first one, then the families taking
// turns (IPv6, IPv4, IPv6, ...) where both are listed, each family in the system's order.
// `families[i]` is the address family of the system's i-th address; `preferred`, the index of
// the address that connected last time to this host, goes first. Returns indices into the list.
std::vector<std::size_t> RaceOrder(const std::vector<int>& families,
                                   std::optional<std::size_t> preferred);

// The port as a number 1..65535 when `text` is plain decimal digits naming one ("080" is 80).
std::optional<std::uint16_t> ParsePort(std::string_view text);

}  // namespace gor::platform
