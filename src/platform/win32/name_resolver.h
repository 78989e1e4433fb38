// Host name and port resolution for the TCP socket: numeric addresses at once, names on a
// short-lived helper thread so the UI thread keeps dispatching while DNS answers. And an
// address as text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/socket_core.h"

// Kept out of this header so that its users need no <winsock2.h>.
struct sockaddr_storage;

namespace gor::platform::win32 {

// Resolves `host` for TCP on `port`: a numeric host (dotted IPv4 or IPv6 text) at once, a name
// off the loop (EventLoop::RunOffLoop). Fills `answer` with the addresses, or a WinSock or
// system code, and then runs `done` on the loop's thread from a later DispatchEvents, never
// inside this call. Throws std::system_error when no thread can be started for a name or
// the loop's queue takes no more.
void Resolve(EventLoop& loop, const std::string& host, std::uint16_t port,
             const std::shared_ptr<Resolution>& answer, std::function<void()> done);

// The IPv4 or IPv6 address of `address` as text ("" for another family).
std::string AddressText(const sockaddr_storage& address);

}  // namespace gor::platform::win32
