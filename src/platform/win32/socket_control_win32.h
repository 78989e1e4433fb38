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

#include "platform/event_loop.h"
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

class EventLoopWin32;
struct NameLookup;

// One TCP client connection at a time, over IPv6 or IPv4: a name is looked up on a helper
// thread (the window never waits for it) and its addresses race for the connection, each
// started 250 ms after the one before unless that one failed sooner (address_race.h). Every
// operation runs on the UI thread that created the control; notifications go to the sink from
// inside the thread's message dispatch (DispatchMessageW), never from inside an operation. A
// notification handler may call any operation, including Close and Connect, and may destroy
// the control. Constructor throws std::system_error when the notification window cannot be
// made.
class SocketControlWin32 final : public platform::SocketControl {
  public:
    // The loop (whose timers the race uses) must outlive the control.
    explicit SocketControlWin32(EventLoopWin32& loop);
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
    // Whether a failure may reach the sink at once (we are inside a dispatch) or must be
    // posted (we are inside an operation the host called).
    enum class Delivery { Direct, Posted };
    // One address's connection attempt in the race.
    struct Attempt {
        std::uintptr_t socket;  // SOCKET
        unsigned message;       // its WSAAsyncSelect message
        std::size_t address;    // index into the lookup's addresses
    };

    // The notification window's messages (see owned_window.h): WinSock's and our own
    // deferred ones go to HandleNotification.
    static bool HandleMessage(void* owner, HWND__* window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t& result);
    void HandleNotification(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void OnLookupDone(std::uintptr_t lookup);
    void OnDeferred(std::uintptr_t generation, std::intptr_t what);
    void OnSocketEvent(unsigned event, int error);
    void PostDeferred(std::intptr_t what);

    // The race: starts it over the lookup's addresses within kConnectMilliseconds; starts the
    // next address beside those still racing (with none left and none racing, fails with the
    // last address's failure); hears an attempt's outcome; closes what still races.
    void StartRace();
    void StartNextAttempt();
    int StartConnect(Attempt& attempt);  // 0, or why it could not start
    void OnAttemptConnected(unsigned msg, std::uintptr_t socket, int error);
    void EndRace();
    void CloseSocket();

    std::size_t MakeRoom();  // moves untaken bytes to the front; returns the space behind them
    // One recv into the buffer and its DataArrival: the bytes taken, 0 when none (the buffer
    // full, nothing waiting, the peer's close), -1 with `error` set on a failure.
    int ReceiveOnce(int& error);
    void Receive();
    void DrainAndFinish(int closeError);
    void FlushSendQueue(Delivery delivery);
    // Ends the connection with `error`, told now or from the message loop.
    void Fail(int error, Delivery delivery);
    void Report(int error);
    void DropQueuedNotifications();

    EventLoopWin32& loop_;
    platform::SocketEvents* sink_ = nullptr;
    const WindowOwner owner_{this, &HandleMessage};
    HWND__* window_ = nullptr;
    // Cleared by the destructor; a handler frame holding a copy can tell that the
    // control was destroyed under it and must not be touched again.
    std::shared_ptr<bool> alive_;

    State state_ = State::Closed;
    std::uintptr_t socket_ = ~std::uintptr_t{0};  // SOCKET; INVALID_SOCKET when none
    unsigned socketMessage_ = 0;                  // the WSAAsyncSelect message of socket_
    // Counts connections; checked against every posted notification so that nothing of a
    // closed connection reaches the sink.
    std::uintptr_t generation_ = 0;
    int deferredError_ = 0;

    // The lookup running for this connection; its helper thread owns it until it posts it.
    const NameLookup* pending_ = nullptr;
    std::unique_ptr<NameLookup> addresses_;  // the connection's addresses, once known
    std::vector<std::size_t> order_;         // indices of the addresses in the race's order
    std::size_t nextAddress_ = 0;            // the next one of order_ to start
    std::vector<Attempt> racing_;            // attempts still racing for the connection
    unsigned attempts_ = 0;                  // counts attempts; picks each one's message
    int lastError_ = 0;                      // the failure of the address that failed last
    std::unique_ptr<Timer> staggerTimer_;    // starts the next address beside the others
    std::unique_ptr<Timer> raceTimer_;       // the whole race's budget
    // The sockaddr that connected last time: the next connection starts with it.
    std::vector<char> winner_;

    std::vector<char> received_;  // bytes [begin, end) are received and not yet taken
    std::size_t receivedBegin_ = 0, receivedEnd_ = 0;
    bool receiveStalled_ = false;  // FD_READ skipped because the buffer was full
    std::string sendQueue_;        // bytes the stack would not take yet; sent on FD_WRITE
    std::size_t sendOffset_ = 0;   // how much of sendQueue_ has gone out
};

}  // namespace gor::platform::win32
