// getaddrinfo() for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/posix/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/posix/event_loop_posix.h"
#include "platform/posix/posix_error.h"

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
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0) {
        result.errorNumber = rc == EAI_SYSTEM ? errno : rc;
        result.description = rc == EAI_SYSTEM ? ErrorText(errno) : std::string(::gai_strerror(rc));
        return result;
    }
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage)) continue;
        SocketAddress address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.length = ai->ai_addrlen;
        address.family = ai->ai_family;
        result.addresses.push_back(address);
    }
    ::freeaddrinfo(list);
    return result;
}

}  // namespace

std::optional<Resolution> ResolveNumeric(const std::string& host, std::uint16_t port) {
    Resolution result = Lookup(host, port, AI_NUMERICHOST);
    if (result.errorNumber == EAI_NONAME) return std::nullopt;
    return result;
}

void ResolveInBackground(const std::string& host, std::uint16_t port,
                         std::shared_ptr<Mailbox> mailbox, std::function<void(Resolution)> done) {
    // Detached: a lookup the socket gave up on simply finishes into a dropped result. The
    // thread owns everything it touches (copies and the shared mailbox).
    std::thread([host, port, mailbox = std::move(mailbox), done = std::move(done)]() mutable {
        Resolution result = Lookup(host, port, 0);
        mailbox->Send([done = std::move(done), result = std::move(result)]() mutable {
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
