// The Windows TCP socket control: WinSock2 in asynchronous-select mode, its
// notifications posted to a hidden message-only window and delivered by the UI thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/socket_control.h"

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
class SocketCore;

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

    void SetEventSink(platform::SocketEvents* sink) override;
    void Close() override;
    void Connect(const std::string& host, const std::string& port) override;
    void SendData(std::string_view data) override;
    void GetData(std::string& data, std::int32_t maxLength) override;
    std::string LocalIP() const override;

    // Bytes received and not yet taken with GetData.
    std::size_t BytesPending() const;

  private:
    // Shared so that a notification handler that destroys this control does not pull the
    // state out from under the dispatch that called it.
    std::shared_ptr<SocketCore> core_;
};

}  // namespace gor::platform::win32
