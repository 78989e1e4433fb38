// Host name and port resolution for the TCP socket: numeric addresses at once, names on a
// short-lived helper thread so the loop keeps dispatching while DNS answers. And an address
// as text.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gor::platform::posix {

class Mailbox;

struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = AF_UNSPEC;
};

struct Resolution {
    std::vector<SocketAddress> addresses;  // in the order to try; empty on failure
    int errorNumber = 0;                   // an errno or getaddrinfo (EAI_*) code
    std::string description;               // readable text of the failure
};

// Addresses of a numeric host (dotted IPv4 or IPv6 text); nullopt when `host` is a name.
std::optional<Resolution> ResolveNumeric(const std::string& host, std::uint16_t port);

// Looks `host` up on a helper thread and sends `done` with the result through `mailbox`,
// so it runs on the loop's thread. The caller drops results it no longer wants.
void ResolveInBackground(const std::string& host, std::uint16_t port,
                         std::shared_ptr<Mailbox> mailbox, std::function<void(Resolution)> done);

// The IPv4 or IPv6 address of `address` as text ("" for another family).
std::string AddressText(const sockaddr_storage& address);

}  // namespace gor::platform::posix
