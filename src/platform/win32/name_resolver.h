// Host name and port resolution for the TCP socket: numeric addresses at once, names on a
// short-lived helper thread whose answer comes back as a window message, so the UI thread
// keeps dispatching while DNS answers. And an address as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Kept out of this header so that its users need no <winsock2.h>.
struct HWND__;
struct sockaddr_storage;

namespace gor::platform::win32 {

// One name's lookup and the addresses it found, in the system's order.
struct NameLookup {
    struct Address {
        std::vector<char> bytes;  // a sockaddr of `bytes.size()` bytes
        int family = 0;
    };
    std::wstring name, service;
    std::vector<Address> addresses;
    int error = 0;  // a WinSock code; 0 with at least one address

    // GetAddrInfoW for TCP, numeric hosts only when `numericOnly` (then WSAHOST_NOT_FOUND
    // tells a name). Fills `addresses` or sets `error`; throws nothing.
    void Resolve(bool numericOnly) noexcept;
};

// Looks `lookup` up on a helper thread, which posts `message` with the lookup as wParam to
// `window`; whoever handles the message owns the lookup from then on. When the window is gone
// the thread frees it. On failure to start the thread, returns its error and the lookup
// stays the caller's.
unsigned long ResolveInBackground(NameLookup* lookup, HWND__* window, unsigned message);

// The IPv4 or IPv6 address of `address` as text ("" for another family).
std::string AddressText(const sockaddr_storage& address);

}  // namespace gor::platform::win32
