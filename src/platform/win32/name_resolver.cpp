// GetAddrInfoW for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/win32/name_resolver.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace gor::platform::win32 {

namespace {

struct Request {
    NameLookup* lookup;
    HWND window;
    UINT message;
};

// The helper thread: looks the name up and hands the result to the window, which owns it
// from then on. Without a window to take it (the control is gone), it is freed here.
DWORD WINAPI Run(void* parameter) {
    const Request request = *static_cast<Request*>(parameter);
    delete static_cast<Request*>(parameter);
    request.lookup->Resolve(false);
    if (!::PostMessageW(request.window, request.message, reinterpret_cast<WPARAM>(request.lookup),
                        0))
        delete request.lookup;
    return 0;
}

}  // namespace

void NameLookup::Resolve(bool numericOnly) noexcept {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = numericOnly ? AI_NUMERICHOST : 0;
    ADDRINFOW* list = nullptr;
    error = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &list);
    if (error) return;
    try {
        for (const ADDRINFOW* entry = list; entry; entry = entry->ai_next) {
            if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
            const auto* bytes = reinterpret_cast<const char*>(entry->ai_addr);
            addresses.push_back({{bytes, bytes + entry->ai_addrlen}, entry->ai_family});
        }
    } catch (...) {
        error = WSA_NOT_ENOUGH_MEMORY;
    }
    ::FreeAddrInfoW(list);
    if (!error && addresses.empty()) error = WSANO_DATA;
}

unsigned long ResolveInBackground(NameLookup* lookup, HWND__* window, unsigned message) {
    auto* request = new Request{lookup, window, message};
    // The mingw-w64 win32 thread model has no std::thread; a plain system thread suffices.
    const HANDLE thread = ::CreateThread(nullptr, 0, &Run, request, 0, nullptr);
    if (!thread) {
        delete request;
        return ::GetLastError();
    }
    ::CloseHandle(thread);
    return 0;
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
