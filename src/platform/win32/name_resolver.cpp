// GetAddrInfoW for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/win32/name_resolver.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <system_error>
#include <utility>

#include "platform/win32/wide_text.h"

namespace gor::platform::win32 {

namespace {

// GetAddrInfoW for TCP, numeric hosts only when `numericOnly` (then WSAHOST_NOT_FOUND tells a
// name). Throws nothing.
Resolution Addresses(const std::wstring& name, const std::wstring& service, bool numericOnly) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    ADDRINFOW* list = nullptr;
    Resolution result;
    result.error = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &list);
    if (result.error) return result;
    try {
        for (const ADDRINFOW* entry = list; entry; entry = entry->ai_next)
            result.Add(entry->ai_addr, entry->ai_addrlen, entry->ai_family);
    } catch (...) {
        result.error = WSA_NOT_ENOUGH_MEMORY;
    }
    ::FreeAddrInfoW(list);
    if (!result.error && result.addresses.empty()) result.error = WSANO_DATA;
    return result;
}

// `utf8` as UTF-16 in `wide`; false when it is no UTF-8 text.
bool WidenInto(const std::string& utf8, std::wstring& wide) {
    try {
        wide = Widen(utf8);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

void Resolve(EventLoop& loop, const std::string& host, std::uint16_t port,
             const std::shared_ptr<Resolution>& answer, std::function<void()> done) {
    answer->error = WSAHOST_NOT_FOUND;
    std::wstring name, service;
    // GetAddrInfoW("") names this machine; an empty host is a caller's mistake, not that. No
    // host name is anything but text.
    if (!host.empty() && WidenInto(host, name)) {
        // Digits widened one by one: std::to_wstring would link a wide printf into the exe.
        for (const char digit : std::to_string(port)) service += wchar_t(digit);
        // A dotted IPv4 or an IPv6 address needs no lookup: its one address is tried at once.
        *answer = Addresses(name, service, true);
    }
    if (answer->error == WSAHOST_NOT_FOUND && !name.empty()) {
        // A lookup the socket gave up on finishes into an answer nobody reads.
        return loop.RunOffLoop(
            [name, service, answer] { *answer = Addresses(name, service, false); },
            std::move(done));
    }
    loop.Post(std::move(done));
}

std::string AddressText(const sockaddr_storage& address) {
    const void* bytes = nullptr;
    if (address.ss_family == AF_INET)
        bytes = &reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    if (address.ss_family == AF_INET6)
        bytes = &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    char text[INET6_ADDRSTRLEN] = "";
    if (!bytes || !::inet_ntop(address.ss_family, const_cast<void*>(bytes), text, sizeof text))
        return {};
    return text;
}

}  // namespace gor::platform::win32
