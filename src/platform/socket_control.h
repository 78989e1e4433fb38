// The TCP socket control the download control talks through: asynchronous connect,
// whole sends, and notifications delivered on the UI thread by the event loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace gor::platform {

// Why a name lookup, a connect or a transfer failed, as one value.
struct SocketFailure {
    // The portable condition: the same for the same kind of failure on every system. A name
    // that gives no address is std::errc::host_unreachable; a port that is no decimal number
    // from 1 to 65535 is std::errc::invalid_argument.
    std::errc condition{};
    // The system's own code of it: a WinSock code on Windows, an errno or getaddrinfo (EAI_*)
    // code on POSIX.
    int systemCode = 0;
    std::string text;  // readable, for the player and the log
};

// What a socket control holds of received bytes not yet taken, at most, and so the most one
// DataArrival announces: large enough that a fast transfer costs few wake-ups, small enough
// to stay a modest fixed buffer.
inline constexpr std::size_t kReceiveBufferBytes = std::size_t{256} * 1024;

// How long making a connection may take, from the name lookup on and over all of the host's
// addresses together, so that a try's time is bounded whatever the name server does: what
// Windows gives a single address (a SYN and two retries, 3 + 6 + 12 s). The addresses race
// within it (socket_core.h): one that neither connects nor fails within a quarter of a second
// no longer holds up the next, which starts beside it, so one address that never answers cannot
// use up the time of the others.
inline constexpr int kConnectMilliseconds = 21000;

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
    // Name resolution, connect or transfer failed, for the reason `failure` gives. The
    // connection is closed by then and nothing more of it is reported; Close stays allowed.
    virtual void OnError(const SocketFailure& failure) = 0;
};

class SocketControl {
  public:
    virtual ~SocketControl() = default;

    // Where notifications go; must be set before Connect. The receiver outlives the control.
    virtual void SetEventSink(SocketEvents* sink) = 0;

    // Ends any connection or connection attempt at once, drops undelivered data and pending
    // notifications. Does nothing on a closed socket. Raises no notification.
    virtual void Close() = 0;

    // Starts connecting to `host` (name, dotted IPv4 or IPv6 address) on `port` and returns at
    // once; a name is looked up without blocking. The host's addresses race, started one after
    // the other (families taking turns) until the first connects; the lookup and the race
    // together within kConnectMilliseconds.
    // Success arrives as OnConnect, any failure (port 0, which is what a port text that names no
    // port reads as, unknown host, every address refused or silent, no socket to be had) as
    // OnError, with the failure of the address that failed last; none is thrown.
    virtual void Connect(const std::string& host, std::uint16_t port) = 0;

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
