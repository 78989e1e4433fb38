// Exercises SocketControlWin32, and GorDownload over it, against servers on 127.0.0.1 under a
// message loop of its own. Driven by test_winsock.py, which starts the servers and checks what this
// program reports. Usage: winsock_check.exe <case> [arguments] ... ; each case is a GoogleTest
// test, WinsockControl.<name>, and the exit code is non-zero when one failed.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "download/gor_download.h"
#include "download/url.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/socket_control_win32.h"

namespace {

using gor::platform::SocketEvents;
using gor::platform::win32::SocketControlWin32;
using gor::platform::win32::WinsockSession;

// The loop whose timers the sockets' address races use; its messages are pumped by RunUntil.
gor::platform::win32::EventLoopWin32& Loop() {
    static gor::platform::win32::EventLoopWin32 loop;
    return loop;
}

constexpr DWORD kCaseTimeoutMs = 60000;

// Dispatches the thread's messages until `done` or the timeout; sleeps while the queue is empty.
// `afterEach` runs after every dispatched message.
bool RunUntil(const std::function<bool()>& done, DWORD timeoutMs,
              const std::function<void()>& afterEach = nullptr) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!done()) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&msg);
            if (afterEach) afterEach();
            if (done()) return true;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
    return true;
}

// Lets late notifications (stale ones would be the fault) arrive for a while.
void RunFor(DWORD ms) {
    RunUntil([] { return false; }, ms);
}

// Records the notifications of one control and takes every byte announced.
struct Recorder : SocketEvents {
    SocketControlWin32& socket;
    std::string log;  // one letter per notification: C connect, D data, X close, E error
    std::string received;
    int errorNumber = 0;
    std::string errorText;
    std::errc condition{};
    std::string localIP;
    std::string port;          // where SendLarge connects
    bool takeNothing = false;  // a receiver that leaves the bytes waiting when notified
    bool insideCall = false;   // set around our own calls into the control
    bool reentered = false;    // a notification arrived from inside such a call
    bool badCount = false;     // GetData did not hand out what OnDataArrival announced
    std::function<void()> onConnect, onFirstData;

    explicit Recorder(SocketControlWin32& s) : socket(s) { socket.SetEventSink(this); }

    void Note(char what) {
        log += what;
        if (insideCall) reentered = true;
    }
    void OnConnect() override {
        Note('C');
        localIP = socket.LocalIP();
        if (onConnect) onConnect();
    }
    void OnDataArrival(std::int32_t bytesTotal) override {
        Note('D');
        if (takeNothing) return;
        std::string chunk;
        socket.GetData(chunk, bytesTotal);
        if (bytesTotal <= 0 || chunk.size() != static_cast<std::size_t>(bytesTotal))
            badCount = true;
        received += chunk;
        if (onFirstData) {
            auto hook = std::move(onFirstData);
            onFirstData = nullptr;
            hook();
        }
    }
    void OnClose() override { Note('X'); }
    void OnError(const gor::platform::SocketFailure& failure) override {
        Note('E');
        errorNumber = failure.systemCode;
        condition = failure.condition;
        errorText = failure.text;
    }
    void Connect(const std::string& host, const std::string& port) {
        insideCall = true;
        socket.Connect(host, gor::download::ParsePort(port).value_or(0));
        insideCall = false;
    }
    bool Ended() const { return log.find_first_of("XE") != std::string::npos; }
};

// The verdict of a case, with what it saw.
void Report(bool ok, const std::string& name, const std::string& detail) {
    EXPECT_TRUE(ok) << name << ": " << detail;
}

std::string Describe(const Recorder& r) {
    return "events=" + r.log + " bytes=" + std::to_string(r.received.size()) +
           " error=" + std::to_string(r.errorNumber) + " text=\"" + r.errorText + "\"";
}

// A text of the control's own, not the "Network error <n>" it falls back to for unknown codes.
bool Readable(const std::string& text) {
    return !text.empty() && text.find("error") == std::string::npos;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string Request(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

// A whole HTTP exchange: connect, send, take everything until the server closes.
void Fetch(const std::string& host, const std::string& port, const std::string& path,
           const std::string& out, const std::string& localIP = "127.0.0.1") {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    // The addresses race: a first one that swallows the attempt costs a quarter of a second.
    const ULONGLONG started = ::GetTickCount64();
    ULONGLONG connectMs = 0;
    r.onConnect = [&] {
        connectMs = ::GetTickCount64() - started;
        socket.SendData(Request(path));
    };
    r.Connect(host, port);
    const bool ended = RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs);
    const bool shape = r.log.size() >= 3 && r.log.front() == 'C' && r.log.back() == 'X' &&
                       r.log.find_first_not_of('D', 1) == r.log.size() - 1;
    Report(ended && shape && !r.reentered && !r.badCount && r.localIP == localIP &&
               connectMs < 5000 && WriteFile(out, r.received),
           "fetch-" + host,
           Describe(r) + " localip=" + r.localIP + " connect=" + std::to_string(connectMs) + "ms");
}

// A receiver that takes nothing when notified and only a little between messages fills the
// control's buffer: reading must pause and resume without losing or reordering a byte.
void Trickle(const std::string& port, const std::string& out) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.takeNothing = true;
    r.onConnect = [&] { socket.SendData(Request("/body.bin")); };
    r.Connect("127.0.0.1", port);
    std::size_t mostPending = 0;
    const auto takeALittle = [&] {
        mostPending = std::max(mostPending, socket.BytesPending());
        std::string piece;
        socket.GetData(piece, 4096);
        r.received += piece;
    };
    const bool ended = RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs, takeALittle);
    std::string rest;
    socket.GetData(rest, 0x7FFFFFFF);
    r.received += rest;
    Report(ended && r.log.back() == 'X' && socket.BytesPending() == 0 && WriteFile(out, r.received),
           "trickle",
           Describe(r).substr(0, 40) + "... most pending=" + std::to_string(mostPending));
}

// Closes and reconnects from inside the first data notification, as the download control
// does between its probe and its transfer: nothing of the first connection may follow.
void Reconnect(const std::string& port, const std::string& out) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.onConnect = [&] { socket.SendData(Request("/body.bin")); };
    r.onFirstData = [&] {
        socket.Close();
        r.received.clear();
        r.log += '|';
        socket.Connect("127.0.0.1", gor::download::ParsePort(port).value_or(0));
    };
    r.Connect("127.0.0.1", port);
    const bool ended = RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs);
    RunFor(500);
    const auto second = r.log.substr(r.log.find('|') + 1);
    const bool shape = r.log.rfind("CD|C", 0) == 0 && second.back() == 'X' &&
                       second.find_first_not_of('D', 1) == second.size() - 1;
    Report(ended && shape && !r.badCount && WriteFile(out, r.received), "reconnect", Describe(r));
}

// A failure that must arrive as OnError (never from inside Connect), with a readable text.
void ExpectError(const std::string& name, const std::string& host, const std::string& port,
                 std::vector<int> numbers) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.onConnect = [&] { socket.SendData(Request("/")); };
    r.Connect(host, port);
    const bool ended = RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs);
    bool known = false;
    for (int n : numbers) known = known || n == r.errorNumber;
    Report(ended && !r.reentered && r.log.back() == 'E' && known && Readable(r.errorText), name,
           Describe(r));
}

// A lookup still running when its connection is closed is never reported, although Wine
// delivers the answer (here an address) of a cancelled lookup all the same. The answer is
// awaited before the next connection: Wine drops answers overtaken by a newer lookup.
void LookupCancel(const std::string& slowName, const std::string& refusedPort) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.Connect(slowName, refusedPort);
    RunFor(300);
    socket.Close();
    RunFor(2000);
    const std::string afterClose = r.log;
    r.Connect("127.0.0.1", refusedPort);
    const bool ended = RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs);
    RunFor(300);
    // The same portable condition as the POSIX socket reports for a refused connection.
    Report(ended && afterClose.empty() && r.log == "E" && r.errorNumber == WSAECONNREFUSED &&
               r.condition == std::errc::connection_refused,
           "lookup-cancel", Describe(r));
}

// Sends "<size>\n" and `size` pattern bytes, more than the stacks buffer while the server is
// not reading yet, in two calls: the second must queue behind the first, every byte in order.
void SendLarge(Recorder& r, std::size_t size, bool& sendFailed) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    const std::string header = std::to_string(size) + "\n";
    const std::size_t firstPart = size - size / 8;
    r.onConnect = [&r, &sendFailed, header, body = std::move(body), firstPart] {
        try {
            r.socket.SendData(header + body.substr(0, firstPart));
            r.socket.SendData(std::string_view(body).substr(firstPart));
        } catch (const std::exception&) {
            sendFailed = true;
        }
    };
    r.Connect("127.0.0.1", r.port);
    RunUntil([&] { return r.Ended(); }, kCaseTimeoutMs);
}

void Upload(const std::string& port, std::size_t size) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.port = port;
    bool sendFailed = false;
    SendLarge(r, size, sendFailed);
    Report(!sendFailed && r.log.back() == 'X' && r.received == "ok\n", "upload",
           Describe(r) + " reply=" + r.received.substr(0, 60));
}

// The server aborts the connection while our request is still going out. (An abort after the
// whole request was read is reported by Wine as an orderly close, so it cannot be told apart.)
void Reset(const std::string& port, std::size_t size) {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    r.port = port;
    bool sendFailed = false;
    SendLarge(r, size, sendFailed);
    const bool known = r.errorNumber == WSAECONNRESET || r.errorNumber == WSAECONNABORTED;
    Report(!sendFailed && r.log.back() == 'E' && known && Readable(r.errorText), "reset",
           Describe(r));
}

// GorDownload over the real control: probe, then the transfer started from inside headerread
// (so the socket is closed and reconnected inside its own data notification), into `file`.
struct DownloadHost : gor::download::GorDownloadEvents {
    std::string log;  // h headerread, P progress, d downloaded, e DownloadError, x Disconnected
    std::string error;
    gor::download::GorDownload* control = nullptr;

    void Progress(double, double) override {
        if (log.empty() || log.back() != 'P') log += 'P';
    }
    void downloaded(const std::string&) override { log += 'd'; }
    void DownloadError(const std::string& description, bool) override {
        log += 'e';
        error = description;
    }
    void headerread() override {
        log += 'h';
        if (control->IsServerOk()) control->DownloadFile();
    }
    void Disconnected() override { log += 'x'; }
    bool Ended() const { return log.find_first_of("dex") != std::string::npos || log == "h"; }
};

void Download(const std::string& name, const std::string& url, const std::string& file,
              const std::string& expected) {
    gor::platform::win32::FileSystemWin32 files;
    gor::download::GorDownload control(std::make_unique<SocketControlWin32>(Loop()), files);
    DownloadHost host;
    host.control = &control;
    control.SetEventHost(&host);
    control.fileName(file);
    control.URL(url);
    control.Readheaders();
    const bool ended = RunUntil([&] { return host.Ended(); }, kCaseTimeoutMs);
    RunFor(300);
    const bool ok = expected == "d" ? host.log == "hPd" : host.log == "e" && Readable(host.error);
    Report(ended && ok, name, "events=" + host.log + " error=\"" + host.error + "\"");
}

// The operations' own promises: SendData before a connection throws, Close on a closed
// control and twice over is harmless, LocalIP is empty while unconnected.
void Idle() {
    SocketControlWin32 socket(Loop());
    Recorder r(socket);
    bool threw = false;
    try {
        socket.SendData("x");
    } catch (const std::system_error& e) {
        threw = e.code().value() == WSAENOTCONN;
    }
    socket.Close();
    socket.Close();
    r.Connect("127.0.0.1", "1");
    socket.Close();
    RunFor(300);
    Report(threw && r.log.empty() && socket.LocalIP().empty(), "idle", Describe(r));
}

// One case of the command line as a test of its own, named as the driver expects it.
class Case : public ::testing::Test {
  public:
    explicit Case(std::function<void()> body) : body_(std::move(body)) {}
    void TestBody() override { body_(); }

  private:
    std::function<void()> body_;
};

void Register(const std::string& name, std::function<void()> body) {
    ::testing::RegisterTest("WinsockControl", name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [body]() -> ::testing::Test* { return new Case(body); });
}

}  // namespace

// The cases to run and their arguments come from the command line (test_winsock.py builds
// it); each becomes a test. "hold" keeps the process, and so its wineserver, alive after the
// tests until standard input closes.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    auto at = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };
    bool hold = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& c = args[i];
        if (c == "fetch" || c == "fetch6") {
            // fetch6: over IPv6, so from ::1
            const std::string localIP = c == "fetch" ? "127.0.0.1" : "::1";
            Register("fetch-" + at(i + 1),
                     [host = at(i + 1), port = at(i + 2), out = at(i + 3), localIP] {
                         Fetch(host, port, "/body.bin", out, localIP);
                     });
            i += 3;
        } else if (c == "reconnect") {
            Register(c, [port = at(i + 1), out = at(i + 2)] { Reconnect(port, out); });
            i += 2;
        } else if (c == "trickle") {
            Register(c, [port = at(i + 1), out = at(i + 2)] { Trickle(port, out); });
            i += 2;
        } else if (c == "refused") {
            Register(c, [port = at(++i)] {
                ExpectError("refused", "127.0.0.1", port, {WSAECONNREFUSED});
            });
        } else if (c == "reset") {
            Register(c, [port = at(i + 1), size = std::stoul(at(i + 2))] { Reset(port, size); });
            i += 2;
        } else if (c == "unresolvable") {
            Register(c, [host = at(++i)] {
                ExpectError("unresolvable", host, "80",
                            {WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY, WSANO_DATA});
            });
        } else if (c == "lookup-cancel") {
            Register(c, [name = at(i + 1), port = at(i + 2)] { LookupCancel(name, port); });
            i += 2;
        } else if (c == "badport") {
            const std::tuple<const char*, const char*, const char*, int> cases[] = {
                {"badport-text", "127.0.0.1", "8o", WSAEINVAL},
                {"badport-zero", "127.0.0.1", "0", WSAEINVAL},
                {"badport-range", "127.0.0.1", "65536", WSAEINVAL},
                {"empty-host", "", "80", WSAHOST_NOT_FOUND},
            };
            for (const auto& [name, host, port, code] : cases) {
                Register(name, [name = name, host = host, port = port, code = code] {
                    ExpectError(name, host, port, {code});
                });
            }
        } else if (c == "upload") {
            Register(c, [port = at(i + 1), size = std::stoul(at(i + 2))] { Upload(port, size); });
            i += 2;
        } else if (c == "download") {
            Register(c,
                     [url = at(i + 1), out = at(i + 2)] { Download("download", url, out, "d"); });
            i += 2;
        } else if (c == "download-refused") {
            Register(c,
                     [url = at(i + 1)] { Download("download-refused", url, "refused.bin", "e"); });
            i += 1;
        } else if (c == "idle") {
            Register(c, [] { Idle(); });
        } else if (c == "hold") {
            hold = true;
        } else {
            Register("usage", [c] { ADD_FAILURE() << "unknown case " << c; });
        }
    }

    int result = 1;
    try {
        WinsockSession session;
        result = RUN_ALL_TESTS();
    } catch (const std::exception& e) {
        std::printf("setup failed: %s\n", e.what());
    }
    if (hold) {
        std::printf("HOLD\n");
        std::fflush(stdout);
        char buffer[64];
        DWORD read = 0;
        while (
            ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) &&
            read > 0) {
        }
    }
    return result;
}
