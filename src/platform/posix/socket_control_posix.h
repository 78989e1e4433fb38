// The native TCP socket control: non-blocking connect over every resolved address,
// chunked receive, queued sends, and notifications delivered only from the event loop.
#pragma once

#include <memory>

#include "platform/socket_control.h"

namespace gor::platform::posix {

class EventLoopPosix;
class SocketCore;

// Size of one received chunk (one DataArrival): large enough that a fast transfer costs
// few wake-ups, small enough to stay a modest fixed buffer.
inline constexpr std::size_t kReceiveChunkBytes = std::size_t{256} * 1024;

class SocketControlPosix final : public SocketControl {
  public:
    // The loop must outlive the socket.
    explicit SocketControlPosix(EventLoopPosix& loop);
    ~SocketControlPosix() override;
    SocketControlPosix(const SocketControlPosix&) = delete;
    SocketControlPosix& operator=(const SocketControlPosix&) = delete;

    void SetEventSink(SocketEvents* sink) override;
    void Close() override;
    void Connect(const std::string& host, const std::string& port) override;
    void SendData(std::string_view data) override;
    void GetData(std::string& data, std::int32_t maxLength) override;
    std::string LocalIP() const override;

  private:
    // Shared so that a notification handler that destroys this control does not pull the
    // state out from under the dispatch that called it.
    std::shared_ptr<SocketCore> core_;
};

}  // namespace gor::platform::posix
