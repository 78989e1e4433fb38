// The Windows TCP socket control: the shared socket core over WinSock2 in asynchronous-select
// mode, whose notifications a hidden message-only window receives on the UI thread.
#pragma once

#include "platform/socket_core.h"

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

// Every operation runs on the UI thread that created the control; notifications go to the
// sink from inside the thread's message dispatch (socket_core.h). Constructor throws
// std::system_error when the notification window cannot be made.
class SocketControlWin32 final : public SocketControlOnCore {
  public:
    // The loop (whose timers and posted tasks the core uses) must outlive the control.
    explicit SocketControlWin32(EventLoopWin32& loop);
};

}  // namespace gor::platform::win32
