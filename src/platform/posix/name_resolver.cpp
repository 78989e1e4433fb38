// getaddrinfo() for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/posix/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "platform/posix/event_loop_posix.h"

namespace gor::platform::posix {

namespace {

Resolution Lookup(const std::string& host, std::uint16_t port, int extraFlags) {
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
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        const auto* bytes = reinterpret_cast<const char*>(ai->ai_addr);
        result.addresses.push_back({{bytes, bytes + ai->ai_addrlen}, ai->ai_family});
    }
    ::freeaddrinfo(list);
    return result;
}

}  // namespace

void LookUp(EventLoopPosix& loop, const std::string& host, std::uint16_t port,
            std::function<void(Resolution)> done) {
    Resolution numeric = Lookup(host, port, AI_NUMERICHOST);
    if (numeric.error != EAI_NONAME) {
        loop.Post([done = std::move(done), numeric = std::move(numeric)]() mutable {
            done(std::move(numeric));
        });
        return;
    }
    // Detached: a lookup the socket gave up on simply finishes into a dropped result. The
    // thread owns everything it touches (copies and the shared mailbox).
    std::thread([host, port, mailbox = loop.mailbox(), done = std::move(done)]() mutable {
        mailbox->Send([done = std::move(done), result = Lookup(host, port, 0)]() mutable {
            done(std::move(result));
        });
    }).detach();
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
