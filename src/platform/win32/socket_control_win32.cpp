// The Windows TCP socket control: WSAAsyncSelect notifications and WSAAsyncGetHostByName
// results arrive as messages of a message-only window and become SocketEvents calls.
#include "platform/win32/socket_control_win32.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "platform/win32/callback_guard.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

static_assert(std::is_same_v<HWND, HWND__*>);
static_assert(sizeof(SOCKET) == sizeof(std::uintptr_t) && INVALID_SOCKET == ~std::uintptr_t{0});

namespace {

// Messages of the notification window. Its class is private to this control, so the WM_APP
// range is ours alone.
constexpr UINT kMsgLookupDone = WM_APP + 1;  // WSAAsyncGetHostByName finished; wParam = task
constexpr UINT kMsgDeferred = WM_APP + 2;    // wParam = generation, lParam = Deferred
// Each connection selects on its own message number from this ring. Socket handle values
// are reused as soon as a socket is closed, so the handle in wParam alone cannot tell a
// notification of the current connection from one queued for a closed one.
constexpr UINT kMsgSocketFirst = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x100;
constexpr UINT kMsgLast = kMsgSocketFirst + kSocketMessages - 1;

// What a kMsgDeferred message asks for. Results known already inside Connect (a dotted
// address, a bad port) are posted so that they, too, arrive from the message loop.
enum Deferred : LPARAM { kDeferredConnect = 1, kDeferredError = 2, kDeferredReceive = 3 };

constexpr std::size_t kReceiveBufferSize = 256 * 1024;
constexpr wchar_t kWindowClass[] = L"GorWinsockControl";

// Decimal digits only, 1 to 65535 ("080" is 80). On failure returns 0 and sets `error`.
std::uint16_t ParsePort(const std::string& text, int& error) {
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            error = WSAEINVAL;
            return 0;
        }
        value = std::min(value * 10 + static_cast<unsigned long>(c - '0'), 65536ul);
    }
    if (text.empty() || value > 65535) {
        error = WSAEINVAL;
        return 0;
    }
    // Port 0 is what connect() itself refuses with this code.
    if (value == 0) {
        error = WSAEADDRNOTAVAIL;
        return 0;
    }
    return ::htons(static_cast<u_short>(value));
}

// Runs one notification of the receiver. A failure must not unwind into the system frames of
// DispatchMessageW: it is held and rethrown once the event loop has its frames back, so it
// reaches the waiting caller's trap as on every other platform.
template <typename Notify>
void Deliver(platform::SocketEvents* sink, Notify&& notify) {
    if (!sink) return;
    RunGuarded([&] { notify(*sink); });
}

}  // namespace

// One WSAAsyncGetHostByName request. The resolver writes into `hostent` until it posts its
// result, so the buffer (and the name) live until that message is seen.
struct SocketControlWin32::Lookup {
    HANDLE task = nullptr;
    std::string name;
    std::unique_ptr<char[]> hostent = std::make_unique<char[]>(MAXGETHOSTSTRUCT);
};

bool SocketControlWin32::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam, std::intptr_t&) {
    if (message < WM_APP || message > kMsgLast) return false;
    auto* control = static_cast<SocketControlWin32*>(owner);
    RunGuarded([&] { control->HandleNotification(message, wParam, lParam); });
    return true;
}

WinsockSession::WinsockSession() {
    WSADATA data;
    // WSAStartup reports its failure as its result; WSAGetLastError is not usable yet.
    if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data))
        throw Win32Error(static_cast<unsigned long>(error), "WSAStartup");
}

WinsockSession::~WinsockSession() {
    ::WSACleanup();
}

SocketControlWin32::SocketControlWin32()
    : alive_(std::make_shared<bool>(true)), received_(kReceiveBufferSize) {
    WNDCLASSEXW windowClass{};
    windowClass.lpszClassName = kWindowClass;
    RegisterOwnedWindowClass(windowClass);
    window_ = CreateOwnedWindow(owner_, kWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE,
                                "socket notifications");
}

SocketControlWin32::~SocketControlWin32() {
    *alive_ = false;
    Close();
    // A cancelled lookup may still be completed by the resolver, which then writes into its
    // buffer; with the window gone its result can no longer tell us when, so those few
    // buffers are left to the process rather than freed under the resolver.
    for (auto& lookup : abandoned_) (void)lookup.release();
    ForgetOwner(window_);
    ::DestroyWindow(window_);
}

void SocketControlWin32::Close() {
    if (state_ == State::Closed) return;
    // closesocket also ends the WSAAsyncSelect; notifications already queued are dropped below.
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
    if (lookup_) {
        // Wine reports the cancel as done and still posts the result (and may fill the
        // buffer), so the buffer is kept until that message turns up.
        ::WSACancelAsyncRequest(lookup_->task);
        abandoned_.push_back(std::move(lookup_));
    }
    state_ = State::Closed;
    ++generation_;
    socketMessage_ = 0;
    receivedBegin_ = receivedEnd_ = 0;
    receiveStalled_ = false;
    sendQueue_.clear();
    sendOffset_ = 0;
    DropQueuedNotifications();
}

void SocketControlWin32::Connect(const std::string& host, const std::string& port) {
    Close();
    const SOCKET created = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (created == INVALID_SOCKET) ThrowLastSocketError("socket");
    socket_ = created;
    ++generation_;
    socketMessage_ = kMsgSocketFirst + static_cast<UINT>(generation_ % kSocketMessages);
    state_ = State::Resolving;

    int portError = 0;
    port_ = ParsePort(port, portError);
    if (portError) {
        deferredError_ = portError;
        return PostDeferred(kDeferredError);
    }
    // gethostbyname("") names this machine; an empty host is a caller's mistake, not that.
    if (host.empty()) {
        deferredError_ = WSAHOST_NOT_FOUND;
        return PostDeferred(kDeferredError);
    }
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE) {
        address_ = dotted;
        return PostDeferred(kDeferredConnect);
    }
    auto lookup = std::make_unique<Lookup>();
    lookup->name = host;
    lookup->task = ::WSAAsyncGetHostByName(window_, kMsgLookupDone, lookup->name.c_str(),
                                           lookup->hostent.get(), MAXGETHOSTSTRUCT);
    if (!lookup->task) {
        deferredError_ = ::WSAGetLastError();
        return PostDeferred(kDeferredError);
    }
    lookup_ = std::move(lookup);
}

void SocketControlWin32::SendData(std::string_view data) {
    if (state_ != State::Connected) throw Win32Error(WSAENOTCONN, "SendData");
    // Bytes queued earlier go first; FD_WRITE sends them and whatever is appended now.
    if (sendOffset_ < sendQueue_.size()) {
        sendQueue_.append(data);
        return;
    }
    while (!data.empty()) {
        const int sent = ::send(socket_, data.data(),
                                static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX)), 0);
        if (sent == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                throw Win32Error(static_cast<unsigned long>(error), "send");
            // The stack's send buffer is full: FD_WRITE says when it has room again.
            sendQueue_.assign(data);
            sendOffset_ = 0;
            return;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void SocketControlWin32::GetData(std::string& data, std::int32_t maxLength) {
    const std::size_t count =
        std::min(BytesPending(), static_cast<std::size_t>(std::max<std::int32_t>(maxLength, 0)));
    data.assign(received_.data() + receivedBegin_, count);
    receivedBegin_ += count;
    if (receivedBegin_ == receivedEnd_) receivedBegin_ = receivedEnd_ = 0;
    // A read skipped for want of room is restarted now that there is some.
    if (receiveStalled_ && count > 0) {
        receiveStalled_ = false;
        PostDeferred(kDeferredReceive);
    }
}

std::string SocketControlWin32::LocalIP() const {
    if (state_ != State::Connected && state_ != State::PeerClosed) return {};
    sockaddr_in local{};
    int length = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
        return {};
    const char* text = ::inet_ntoa(local.sin_addr);
    return text ? text : "";
}

void SocketControlWin32::HandleNotification(unsigned msg, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    if (msg == kMsgLookupDone)
        OnLookupDone(wParam, lParam);
    else if (msg == kMsgDeferred)
        OnDeferred(wParam, lParam);
    else if (msg == socketMessage_ && wParam == socket_ && socket_ != INVALID_SOCKET)
        OnSocketEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
}

void SocketControlWin32::OnLookupDone(std::uintptr_t task, std::intptr_t reply) {
    if (!lookup_ || reinterpret_cast<HANDLE>(task) != lookup_->task) return ForgetLookup(task);
    const auto lookup = std::move(lookup_);
    if (state_ != State::Resolving) return;
    int error = WSAGETASYNCERROR(reply);
    if (!error) {
        const auto* entry = reinterpret_cast<const hostent*>(lookup->hostent.get());
        if (entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list &&
            entry->h_addr_list[0])
            std::memcpy(&address_, entry->h_addr_list[0], sizeof address_);
        else
            error = WSANO_DATA;
    }
    if (error) return Fail(error);
    StartConnect();
}

void SocketControlWin32::OnDeferred(std::uintptr_t generation, std::intptr_t what) {
    if (generation != generation_) return;
    switch (what) {
        case kDeferredConnect:
            if (state_ == State::Resolving) StartConnect();
            break;
        case kDeferredError:
            if (state_ == State::Resolving) Fail(deferredError_);
            break;
        case kDeferredReceive:
            if (state_ == State::Connected) ReceiveOnce();
            break;
    }
}

void SocketControlWin32::OnSocketEvent(unsigned event, int error) {
    switch (event) {
        case FD_CONNECT:
            if (state_ != State::Connecting) return;
            if (error) return Fail(error);
            state_ = State::Connected;
            Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnConnect(); });
            return;
        case FD_READ:
            if (state_ != State::Connected) return;
            if (error) return Fail(error);
            return ReceiveOnce();
        case FD_WRITE:
            if (state_ != State::Connected) return;
            if (error) return Fail(error);
            return FlushSendQueue();
        case FD_CLOSE:
            if (state_ != State::Connected) return;
            return DrainAndFinish(error);
    }
}

void SocketControlWin32::PostDeferred(std::intptr_t what) {
    if (!::PostMessageW(window_, kMsgDeferred, generation_, what)) ThrowLastError("PostMessageW");
}

void SocketControlWin32::StartConnect() {
    // Also makes the socket non-blocking. FD_WRITE is wanted for sends the stack deferred.
    if (::WSAAsyncSelect(socket_, window_, socketMessage_,
                         FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
        return Fail(::WSAGetLastError());
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = port_;
    remote.sin_addr.s_addr = address_;
    state_ = State::Connecting;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) ==
        SOCKET_ERROR) {
        // A non-blocking connect reports WSAEWOULDBLOCK; the outcome arrives as FD_CONNECT.
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) Fail(error);
    }
}

std::size_t SocketControlWin32::MakeRoom() {
    if (receivedBegin_ > 0) {
        std::memmove(received_.data(), received_.data() + receivedBegin_, BytesPending());
        receivedEnd_ -= receivedBegin_;
        receivedBegin_ = 0;
    }
    return received_.size() - receivedEnd_;
}

void SocketControlWin32::ReceiveOnce() {
    const std::size_t room = MakeRoom();
    if (room == 0) {
        // The receiver left the buffer full. WinSock posts no further FD_READ until we recv
        // again, so the next GetData has to restart reading.
        receiveStalled_ = true;
        return;
    }
    const int count = ::recv(socket_, received_.data() + receivedEnd_, static_cast<int>(room), 0);
    if (count == SOCKET_ERROR) {
        // WinSock may post FD_READ for data a previous recv already took.
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) Fail(error);
        return;
    }
    if (count == 0) return;  // the orderly close; FD_CLOSE follows
    receivedEnd_ += static_cast<std::size_t>(count);
    const auto total = static_cast<std::int32_t>(BytesPending());
    Deliver(sink_, [total](platform::SocketEvents& sink) { sink.OnDataArrival(total); });
}

void SocketControlWin32::DrainAndFinish(int closeError) {
    // FD_CLOSE can come while bytes still wait in the stack (WinSock does not hold it back
    // until they are read); the receiver gets every one of them before it hears of the close.
    const std::shared_ptr<bool> alive = alive_;
    const std::uintptr_t generation = generation_;
    int readError = 0;
    for (;;) {
        const std::size_t room = MakeRoom();
        if (room == 0) break;  // the receiver is not taking; what it has not taken stays
        const int count =
            ::recv(socket_, received_.data() + receivedEnd_, static_cast<int>(room), 0);
        if (count == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) readError = error;
            break;
        }
        if (count == 0) break;
        receivedEnd_ += static_cast<std::size_t>(count);
        const auto total = static_cast<std::int32_t>(BytesPending());
        Deliver(sink_, [total](platform::SocketEvents& sink) { sink.OnDataArrival(total); });
        // The receiver may have closed, reconnected or destroyed the control meanwhile.
        if (!*alive || generation != generation_) return;
    }
    if (closeError || readError) return Fail(closeError ? closeError : readError);
    state_ = State::PeerClosed;
    Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnClose(); });
}

void SocketControlWin32::FlushSendQueue() {
    while (sendOffset_ < sendQueue_.size()) {
        const std::size_t left = sendQueue_.size() - sendOffset_;
        const int sent = ::send(socket_, sendQueue_.data() + sendOffset_,
                                static_cast<int>(std::min<std::size_t>(left, INT_MAX)), 0);
        if (sent == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) Fail(error);
            return;
        }
        sendOffset_ += static_cast<std::size_t>(sent);
    }
    sendQueue_.clear();
    sendOffset_ = 0;
}

void SocketControlWin32::Fail(int error) {
    // Nothing more of this connection is reported; the socket stays until the host's Close.
    state_ = State::Failed;
    std::string description = ErrorText(static_cast<unsigned long>(error));
    const std::string source = kSocketErrorSource, helpFile;
    bool cancelDisplay = false;
    const auto number = static_cast<std::int16_t>(error);
    const std::int32_t scode = Win32Category().default_error_condition(error).value();
    Deliver(sink_, [&](platform::SocketEvents& sink) {
        sink.OnError(number, description, scode, source, helpFile, 0, cancelDisplay);
    });
}

void SocketControlWin32::DropQueuedNotifications() {
    // Notifications of the closed connection may already wait in the queue (posted before
    // closesocket); take them out so the next connection never sees them.
    MSG msg;
    while (::PeekMessageW(&msg, window_, kMsgLookupDone, kMsgLast, PM_REMOVE)) {
        if (msg.message == kMsgLookupDone) ForgetLookup(msg.wParam);
    }
}

void SocketControlWin32::ForgetLookup(std::uintptr_t task) {
    std::erase_if(abandoned_, [task](const std::unique_ptr<Lookup>& lookup) {
        return lookup->task == reinterpret_cast<HANDLE>(task);
    });
}

}  // namespace gor::platform::win32
