// The TCP socket control the download control talks through: asynchronous connect,
// whole sends, and notifications delivered on the UI thread by the event loop.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gor::platform {

// The Source of every socket error notification, whichever system reports it: the download
// control's socket.
inline constexpr const char* kSocketErrorSource = "Winsock1";

// Notifications of a socket control. Each arrives from inside EventLoop::DispatchEvents,
// one at a time, never from inside an operation of the control itself.
class SocketEvents {
  public:
    virtual ~SocketEvents() = default;
    // The connection requested by Connect is established.
    virtual void OnConnect() = 0;
    // `bytesTotal` bytes wait to be taken with GetData (always > 0).
    virtual void OnDataArrival(std::int32_t bytesTotal) = 0;
    // The remote side closed the connection; every byte it sent was delivered before this.
    virtual void OnClose() = 0;
    // Name resolution, connect or transfer failed. `Number` is the system's own error code,
    // `description` a readable text, `Scode` the failure's portable condition as a std::errc
    // value (the same condition for the same kind of failure on every system; a name that
    // gives no address is std::errc::host_unreachable), `Source` kSocketErrorSource. The
    // socket stays open until the host calls Close.
    virtual void OnError(std::int16_t Number, std::string& description, std::int32_t Scode,
                         const std::string& Source, const std::string& HelpFile,
                         std::int32_t HelpContext, bool& CancelDisplay) = 0;
};

class SocketControl {
  public:
    virtual ~SocketControl() = default;

    // Where notifications go; must be set before Connect. The receiver outlives the control.
    virtual void SetEventSink(SocketEvents* sink) = 0;

    // Ends any connection or connection attempt at once, drops undelivered data and pending
    // notifications. Does nothing on a closed socket. Raises no notification.
    virtual void Close() = 0;

    // Starts connecting to `host` (name or dotted address) on `port` (decimal text) and returns
    // at once. Success arrives as OnConnect, any failure (bad port, unknown host, refused) as
    // OnError. Throws std::system_error only when no socket can be made at all.
    virtual void Connect(const std::string& host, const std::string& port) = 0;

    // Sends all of `data` on the connection (queued if the peer is slow). Throws
    // std::system_error when the socket is not connected.
    virtual void SendData(std::string_view data) = 0;

    // Replaces `data` with at most `maxLength` of the received bytes not yet taken,
    // one char per byte.
    virtual void GetData(std::string& data, std::int32_t maxLength) = 0;

    // The local address of the connection as dotted text ("" when not connected).
    virtual std::string LocalIP() const = 0;
};

}  // namespace gor::platform
