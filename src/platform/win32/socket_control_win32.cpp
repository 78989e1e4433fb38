// The Windows TCP socket's system calls for the shared core: WSAAsyncSelect notifications
// arrive as messages of a message-only window and are told to the core.
#include "platform/win32/socket_control_win32.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <utility>

#include "platform/win32/callback_guard.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/name_resolver.h"
#include "platform/win32/owned_window.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

namespace {

constexpr SocketCore::Codes kCodes{WSAEINVAL, WSAEHOSTUNREACH, WSAETIMEDOUT, WSAENOTCONN,
                                   &Win32Category};

// Each socket selects on its own message number from this ring. Socket handle values are
// reused as soon as a socket is closed, so the handle in wParam alone cannot tell a
// notification of the current socket from one queued for a closed one. The window's class is
// private to this control, so the WM_APP range is ours alone.
constexpr UINT kMsgSocketFirst = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x100;
constexpr UINT kMsgLast = kMsgSocketFirst + kSocketMessages - 1;

constexpr wchar_t kWindowClass[] = L"GorWinsockControl";

SOCKET Socket(SocketCore::Handle socket) {
    return static_cast<SOCKET>(socket);
}

int Clamped(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

class SocketCalls final : public SocketCore {
  public:
    explicit SocketCalls(EventLoopWin32& loop) : SocketCore(kCodes, loop), loop_(loop) {
        selected_.fill(INVALID_SOCKET);
        WNDCLASSEXW windowClass{};
        windowClass.lpszClassName = kWindowClass;
        RegisterOwnedWindowClass(windowClass);
        window_ = CreateOwnedWindow(owner_, kWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE,
                                    "socket notifications");
    }

    ~SocketCalls() override {
        Close();
        ForgetOwner(window_);
        ::DestroyWindow(window_);
    }

  protected:
    void Resolve(const std::string& host, std::uint16_t port, std::shared_ptr<Resolution> answer,
                 std::function<void()> done) override {
        win32::Resolve(loop_, host, port, answer, std::move(done));
    }

    int StartConnect(const HostAddress& address, Handle& socket) override {
        const auto* remote = reinterpret_cast<const sockaddr*>(address.bytes);
        const SOCKET opened = ::socket(remote->sa_family, SOCK_STREAM, IPPROTO_TCP);
        if (opened == INVALID_SOCKET) return ::WSAGetLastError();
        socket = static_cast<Handle>(opened);
        const UINT slot = sockets_++ % kSocketMessages;
        selected_[slot] = opened;
        const UINT message = kMsgSocketFirst + slot;
        // Also makes the socket non-blocking. FD_WRITE is wanted for sends the stack deferred.
        if (::WSAAsyncSelect(opened, window_, message,
                             FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
            return ::WSAGetLastError();
        if (::connect(opened, remote, static_cast<int>(address.length)) == SOCKET_ERROR) {
            // A non-blocking connect reports WSAEWOULDBLOCK; the outcome arrives as FD_CONNECT.
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) return error;
        }
        return 0;
    }

    // The winner was selected for its data, room and close from the start.
    std::string Adopt(Handle socket) override {
        sockaddr_storage local{};
        int length = sizeof local;
        if (::getsockname(Socket(socket), reinterpret_cast<sockaddr*>(&local), &length) ==
            SOCKET_ERROR)
            return {};
        return AddressText(local);
    }

    void CloseSocket(Handle socket) override {
        // closesocket also ends the WSAAsyncSelect; what was queued for it is dropped when it
        // arrives, as its (socket, message) pair is forgotten here.
        ::closesocket(Socket(socket));
        std::replace(selected_.begin(), selected_.end(), Socket(socket), INVALID_SOCKET);
    }

    long SendSome(Handle socket, const char* data, std::size_t size, int& error) override {
        const int sent = ::send(Socket(socket), data, Clamped(size), 0);
        if (sent != SOCKET_ERROR) return sent;
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) error = 0;  // FD_WRITE says when it has room again
        return -1;
    }

    long ReceiveSome(Handle socket, char* buffer, std::size_t size, int& error) override {
        const int count = ::recv(Socket(socket), buffer, Clamped(size), 0);
        if (count != SOCKET_ERROR) return count;
        // WinSock may post FD_READ for data a previous recv already took.
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) error = 0;
        return -1;
    }

    SocketFailure Describe(int code) override {
        return {std::errc(Win32Category().default_error_condition(code).value()), code,
                win32::ErrorText(static_cast<unsigned long>(code))};
    }

  private:
    EventLoopWin32& loop_;
    // The notification window's messages (see owned_window.h): WinSock's go to the core.
    static bool HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t&) {
        if (message < kMsgSocketFirst || message > kMsgLast) return false;
        auto* self = static_cast<SocketCalls*>(owner);
        // Held for the dispatch: a handler may destroy the control that owns the core.
        const auto hold = self->shared_from_this();
        RunGuarded([&] { self->Notified(message, wParam, lParam); });
        return true;
    }

    void Notified(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
        const auto socket = static_cast<SOCKET>(wParam);
        if (selected_[message - kMsgSocketFirst] != socket) return;
        const auto handle = static_cast<Handle>(socket);
        const int error = WSAGETSELECTERROR(lParam);
        switch (WSAGETSELECTEVENT(lParam)) {
            case FD_CONNECT:
                return Attempted(handle, error);
            case FD_CLOSE:
                // FD_CLOSE can come while bytes still wait in the stack (WinSock does not hold
                // it back until they are read); the core reads them first.
                return PeerClosing(handle, error);
            case FD_READ:
            case FD_WRITE:
                if (error) return Failed(handle, error);
                return Ready(handle, WSAGETSELECTEVENT(lParam) == FD_READ,
                             WSAGETSELECTEVENT(lParam) == FD_WRITE);
        }
    }

    const WindowOwner owner_{this, &HandleMessage};
    HWND window_ = nullptr;
    // The open sockets by their message (kMsgSocketFirst + index); INVALID_SOCKET elsewhere.
    std::array<SOCKET, kSocketMessages> selected_;
    unsigned sockets_ = 0;  // counts sockets; picks each one's message
};

WinsockSession::WinsockSession() {
    WSADATA data;
    // WSAStartup reports its failure as its result; WSAGetLastError is not usable yet.
    if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data))
        throw Win32Error(static_cast<unsigned long>(error), "WSAStartup");
}

WinsockSession::~WinsockSession() {
    ::WSACleanup();
}

SocketControlWin32::SocketControlWin32(EventLoopWin32& loop)
    : SocketControlOnCore(std::make_shared<SocketCalls>(loop)) {}

}  // namespace gor::platform::win32
