// GetAddrInfoW for the TCP socket, numeric hosts inline and names on a helper thread.
#include "platform/win32/name_resolver.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <system_error>
#include <utility>

#include "platform/win32/event_loop_win32.h"
#include "platform/win32/wide_text.h"

namespace gor::platform::win32 {

namespace {

// GetAddrInfoW for TCP, numeric hosts only when `numericOnly` (then WSAHOST_NOT_FOUND tells a
// name). Throws nothing.
Resolution Lookup(const std::wstring& name, const std::wstring& service, bool numericOnly) {
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

// A name's lookup on its helper thread, which owns it.
struct Request {
    std::wstring name, service;
    Mailbox mailbox;
    std::shared_ptr<Resolution> answer;
    std::function<void()> done;
};

// The helper thread: looks the name up and sends the answer to the loop. Without a loop to
// take it (the control is gone), the answer is dropped here.
DWORD WINAPI Run(void* parameter) {
    const std::unique_ptr<Request> request(static_cast<Request*>(parameter));
    *request->answer = Lookup(request->name, request->service, false);
    request->mailbox.Send(std::move(request->done));
    return 0;
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

void LookUp(EventLoopWin32& loop, const std::string& host, std::uint16_t port,
            std::shared_ptr<Resolution> answer, std::function<void()> done) {
    auto request = std::make_unique<Request>();
    request->answer = std::move(answer);
    Resolution& result = *request->answer;
    result.error = WSAHOST_NOT_FOUND;
    // GetAddrInfoW("") names this machine; an empty host is a caller's mistake, not that. No
    // host name is anything but text.
    if (!host.empty() && WidenInto(host, request->name)) {
        // Digits widened one by one: std::to_wstring would link a wide printf into the exe.
        for (const char digit : std::to_string(port)) request->service += wchar_t(digit);
        // A dotted IPv4 or an IPv6 address needs no lookup: its one address is tried at once.
        result = Lookup(request->name, request->service, true);
    }
    if (result.error == WSAHOST_NOT_FOUND && !request->name.empty()) {
        request->mailbox = loop.mailbox();
        request->done = std::move(done);
        // The mingw-w64 win32 thread model has no std::thread; a plain system thread suffices.
        Request* const handed = request.release();  // the thread's once it runs
        if (const HANDLE thread = ::CreateThread(nullptr, 0, &Run, handed, 0, nullptr)) {
            ::CloseHandle(thread);
            return;
        }
        result.error = static_cast<int>(::GetLastError());
        request.reset(handed);  // never started: ours again
        done = std::move(request->done);
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
