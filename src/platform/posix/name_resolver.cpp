// getaddrinfo() for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/posix/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <utility>

namespace gor::platform::posix {

namespace {

Resolution Addresses(const std::string& host, std::uint16_t port, int extraFlags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | extraFlags;
    const std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    Resolution result;
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list)) {
        result.error = rc == EAI_SYSTEM ? errno : rc;
        return result;
    }
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next)
        result.Add(ai->ai_addr, ai->ai_addrlen, ai->ai_family);
    ::freeaddrinfo(list);
    return result;
}

}  // namespace

void Resolve(EventLoop& loop, const std::string& host, std::uint16_t port,
             const std::shared_ptr<Resolution>& answer, std::function<void()> done) {
    *answer = Addresses(host, port, AI_NUMERICHOST);
    if (answer->error != EAI_NONAME) return loop.Post(std::move(done));
    // A lookup the socket gave up on finishes into an answer nobody reads.
    loop.RunOffLoop([host, port, answer] { *answer = Addresses(host, port, 0); }, std::move(done));
}

std::string AddressText(const sockaddr_storage& address) {
    const void* bytes = nullptr;
    if (address.ss_family == AF_INET)
        bytes = &reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    if (address.ss_family == AF_INET6)
        bytes = &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    char text[INET6_ADDRSTRLEN] = "";
    if (!bytes || !::inet_ntop(address.ss_family, bytes, text, sizeof text)) return {};
    return text;
}

}  // namespace gor::platform::posix
