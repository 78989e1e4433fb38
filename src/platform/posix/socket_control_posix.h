// The native TCP socket control: the shared socket core over non-blocking sockets polled by
// the event loop, names looked up on a helper thread.
#pragma once

#include "platform/socket_core.h"

namespace gor::platform::posix {

class EventLoopPosix;

// Every notification reaches the sink from inside DispatchEvents (socket_core.h).
class SocketControlPosix final : public SocketControlOnCore {
  public:
    // The loop must outlive the socket.
    explicit SocketControlPosix(EventLoopPosix& loop);
};

}  // namespace gor::platform::posix
