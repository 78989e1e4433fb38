// The Windows TCP socket control: WinSock2 in asynchronous-select mode, its
// notifications posted to a hidden message-only window and delivered by the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/socket_control.h"
#include "platform/win32/owned_window.h"

// Kept out of this header so that users of the control need no <windows.h>; the
// pointer-sized types below are the same on both sides (checked in the .cpp).
struct HWND__;

namespace gor::platform::win32 {

// WSAStartup(2.2) for the lifetime of the object; WSACleanup when it ends. Create one in
// WinMain before any SocketControlWin32 and keep it until the last one is gone.
// Throws std::system_error when the WinSock DLL cannot be started.
class WinsockSession {
  public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

// One TCP client connection at a time, IPv4. Every operation runs on the UI thread that
// created the control; notifications go to the sink from inside the thread's message
// dispatch (DispatchMessageW), never from inside an operation. A notification handler may
// call any operation, including Close and Connect, and may destroy the control.
// Constructor throws std::system_error when the notification window cannot be made.
class SocketControlWin32 final : public platform::SocketControl {
  public:
    SocketControlWin32();
    ~SocketControlWin32() override;
    SocketControlWin32(const SocketControlWin32&) = delete;
    SocketControlWin32& operator=(const SocketControlWin32&) = delete;

    void SetEventSink(platform::SocketEvents* sink) override { sink_ = sink; }
    void Close() override;
    void Connect(const std::string& host, const std::string& port) override;
    void SendData(std::string_view data) override;
    void GetData(std::string& data, std::int32_t maxLength) override;
    std::string LocalIP() const override;

    // Bytes received and not yet taken with GetData.
    std::size_t BytesPending() const { return receivedEnd_ - receivedBegin_; }

  private:
    enum class State { Closed, Resolving, Connecting, Connected, PeerClosed, Failed };
    struct Lookup;  // one WSAAsyncGetHostByName request and the buffer it fills

    // The notification window's messages (see owned_window.h): WinSock's and our own
    // deferred ones go to HandleNotification.
    static bool HandleMessage(void* owner, HWND__* window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t& result);
    void HandleNotification(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void OnLookupDone(std::uintptr_t task, std::intptr_t reply);
    void OnDeferred(std::uintptr_t generation, std::intptr_t what);
    void OnSocketEvent(unsigned event, int error);

    void PostDeferred(std::intptr_t what);
    void StartConnect();
    std::size_t MakeRoom();  // moves untaken bytes to the front; returns the space behind them
    void ReceiveOnce();
    void DrainAndFinish(int closeError);
    void FlushSendQueue();
    void Fail(int error);
    void DropQueuedNotifications();
    void ForgetLookup(std::uintptr_t task);

    platform::SocketEvents* sink_ = nullptr;
    const WindowOwner owner_{this, &HandleMessage};
    HWND__* window_ = nullptr;
    // Cleared by the destructor; a handler frame holding a copy can tell that the
    // control was destroyed under it and must not be touched again.
    std::shared_ptr<bool> alive_;

    State state_ = State::Closed;
    std::uintptr_t socket_ = ~std::uintptr_t{0};  // SOCKET; INVALID_SOCKET when none
    // Counts connections; checked against every posted notification so that nothing of a
    // closed connection reaches the sink.
    std::uintptr_t generation_ = 0;
    unsigned socketMessage_ = 0;  // the WSAAsyncSelect message of this connection
    std::uint16_t port_ = 0;      // network byte order
    std::uint32_t address_ = 0;   // network byte order, from inet_addr or the lookup
    int deferredError_ = 0;

    std::unique_ptr<Lookup> lookup_;                  // the current connection's lookup
    std::vector<std::unique_ptr<Lookup>> abandoned_;  // lookups of closed connections

    std::vector<char> received_;  // bytes [begin, end) are received and not yet taken
    std::size_t receivedBegin_ = 0, receivedEnd_ = 0;
    bool receiveStalled_ = false;  // FD_READ skipped because the buffer was full
    std::string sendQueue_;        // bytes the stack would not take yet; sent on FD_WRITE
    std::size_t sendOffset_ = 0;   // how much of sendQueue_ has gone out
};

}  // namespace gor::platform::win32
