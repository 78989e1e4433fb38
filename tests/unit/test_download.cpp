// Tests of the GorDownload control driven by a scripted socket and an in-memory file system:
// request bytes, flags and the exact sequence of events, with answers in different pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <stdexcept>
#include <system_error>

#include "build_config.h"
#include "download/body_framing.h"
#include "download/chunked_body.h"
#include "download/gor_download.h"
#include "download/request.h"
#include "fakes/memory_file_system.h"
#include "fakes/scripted_socket.h"

namespace gor::download {
namespace {

using test::ScriptedSocket;

enum class Split { Whole, Halves, Bytes };
constexpr Split kSplits[] = {Split::Whole, Split::Halves, Split::Bytes};

std::string Num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// A host that logs every event as "name(args); " and may react to it by re-entering.
struct Recorder : GorDownloadEvents {
    std::string log;
    std::function<void(const std::string&)> react;
    void Note(const std::string& e) {
        log += (log.empty() ? "" : "; ") + e;
        if (react) react(e);
    }
    void Progress(double d, double t) override { Note("Progress(" + Num(d) + "," + Num(t) + ")"); }
    void downloaded(const std::string& f) override { Note("downloaded(" + f + ")"); }
    void DownloadError(const std::string& d, bool s) override {
        Note("DownloadError(" + d + (s ? ",true)" : ",false)"));
    }
    void headerread() override { Note("headerread"); }
    void Disconnected() override { Note("Disconnected"); }
    void canceled() override { Note("canceled"); }
};

std::unique_ptr<ScriptedSocket> MakeSocket(ScriptedSocket*& view) {
    auto socket = std::make_unique<ScriptedSocket>();
    view = socket.get();
    return socket;
}

std::string Answer(const std::string& status, const std::string& fields, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\n" + fields + "\r\n" + body;
}
std::string Length(std::size_t n) {
    return "Content-Length: " + std::to_string(n) + "\r\n";
}

// Body bytes of every value, blank lines among them, so a header search in the body shows.
std::string Body(std::size_t n) {
    std::string body;
    for (std::size_t i = 0; i < n; ++i) body += i % 7 ? char(i * 31) : "\r\n\r\n"[i % 4];
    return body;
}

std::string Request(const std::string& range) {
    return "GET /gorupd.new HTTP/1.1\r\nHost: srv\r\nReferrer: 127.0.0.1\r\nAccept: */*\r\n"
           "Connection: Close\r\nUser-Agent: Tessix Downloader\r\n" +
           range + "\r\n";
}

std::string SystemText(int code) {
    return std::system_error(code, std::generic_category(), "f").what();
}

struct Rig {
    test::MemoryFileSystem files;
    ScriptedSocket* socket = nullptr;
    GorDownload control{MakeSocket(socket), files};
    Recorder host;

    Rig() {
        control.SetEventHost(&host);
        control.fileName("f");
        control.URL("srv/gorupd.new");
    }
    void Deliver(const std::string& bytes, Split split = Split::Whole) {
        if (split == Split::Whole) socket->DeliverData(bytes);
        if (split == Split::Halves) {
            socket->DeliverData(bytes.substr(0, bytes.size() / 2));
            socket->DeliverData(bytes.substr(bytes.size() / 2));
        }
        if (split == Split::Bytes) {
            for (char c : bytes) socket->DeliverData(std::string(1, c));
        }
    }
    void Probe(const std::string& answer, Split split = Split::Whole) {
        control.Readheaders();
        socket->DeliverConnect();
        Deliver(answer, split);
    }
    // The launcher's way: probe, then DownloadFile, connected and waiting for the answer.
    void ProbeThenDownload(const std::string& probeFields) {
        Probe(Answer("200 OK", probeFields, ""));
        control.DownloadFile();
        socket->DeliverConnect();
        host.log.clear();
    }
    // Every ending closes socket and file and clears IsExecuting.
    void ExpectEnded() {
        EXPECT_FALSE(control.IsExecuting());
        EXPECT_EQ(socket->state, ScriptedSocket::State::Closed);
        EXPECT_EQ(files.openFiles, 0);
    }
};

TEST(GorDownload, StartsIdleAndAlwaysTakesItsLabelsSize) {
    test::MemoryFileSystem files;
    GorDownload control(std::make_unique<ScriptedSocket>(), files);
    EXPECT_FALSE(control.IsExecuting() || control.IsServerOk() || control.Resumesupported() ||
                 control.Resuming());
    EXPECT_EQ(control.Responsecode() + control.URL() + control.fileName(), "");
    control.Resize(5000, 10);
    EXPECT_EQ(std::pair(control.Width(), control.Height()),
              std::pair(GorDownload::kLabel1Width, GorDownload::kLabel1Height));
}

TEST(GorDownload, SendsTheExactRequests) {
    Rig rig;
    rig.control.Readheaders();
    EXPECT_EQ(rig.socket->calls, (std::vector<std::string>{"Close", "Connect srv 80"}));
    rig.socket->DeliverConnect();
    EXPECT_EQ(rig.socket->sent.back(), Request("Range: bytes=0-\r\n"));

    rig.control.URL("http://h:8080/a b");
    rig.control.DownloadFile();
    EXPECT_EQ(rig.socket->calls.back(), "Connect h 8080");
    rig.socket->DeliverConnect();
    EXPECT_EQ(rig.socket->sent.back().substr(0, 34), "GET /a b HTTP/1.1\r\nHost: h\r\nReferr");

    // Through a proxy: connected to the proxy, the whole URL asked for, the port only when
    // it is not 80.
    rig.control.Proxy("::1", "3128");
    rig.control.Readheaders();
    EXPECT_EQ(rig.socket->calls.back(), "Connect ::1 3128");
    rig.socket->DeliverConnect();
    EXPECT_EQ(rig.socket->sent.back().substr(0, 47),
              "GET http://h:8080/a b HTTP/1.1\r\nHost: h\r\nReferr");
    EXPECT_EQ(AbsoluteTarget("srv", "80", "/gorupd.new"), "http://srv/gorupd.new");
}

TEST(GorDownload, ProbeAnswersInAnyPieces) {
    const std::string bad = "; headerread";
    const std::tuple<std::string, std::string, std::string, double> cases[] = {
        {"200 OK", Length(500), "headerread", 500},
        {"206 Partial Content", Length(123), "headerread", 123},
        {"204 No Content", "", "DownloadError(Nothing to download,true)" + bad, -1},
        {"401 Unauthorized", "", "DownloadError(Authorization Failed,true)" + bad, -1},
        {"404 Not Found", Length(9), "DownloadError(File not found,true)" + bad, 9},
        {"302 Found", "Location: /\r\n", "DownloadError(HTTP/1.1 302 Found,true)" + bad, -1},
        {"200 OK", "Content-Length:    \r\n", "headerread", -1},
        {"200 OK", "Content-Length: abc\r\n", "headerread", -1},
        {"200 OK", "Content-Length: 0\r\n", "headerread", 0},
        {"200 OK", "Content-Length: -1\r\n", "headerread", -1},
        {"200 OK", "cOnTeNt-LeNgTh: 1 024\r\n", "headerread", -1},
        {"200 OK", "cOnTeNt-LeNgTh: \t1024 \r\n", "headerread", 1024},
    };
    for (Split split : kSplits) {
        for (const auto& [status, fields, events, contentLength] : cases) {
            SCOPED_TRACE(status + " " + fields + " split " + std::to_string(int(split)));
            Rig rig;
            rig.Probe(Answer(status, fields, "body"), split);
            EXPECT_EQ(rig.host.log, events);
            EXPECT_EQ(rig.control.Responsecode(), status.substr(0, 3));
            EXPECT_EQ(rig.control.IsServerOk(), status[0] == '2' && status[2] != '4');
            EXPECT_EQ(rig.control.Resumesupported(), status[2] == '6');
            EXPECT_EQ(rig.control.contentLength(), contentLength);
            rig.ExpectEnded();
        }
    }
}

TEST(GorDownload, LauncherFlowDownloadsFromInsideHeaderread) {
    Rig rig;
    rig.host.react = [&](const std::string& e) {
        if (e == "headerread" && rig.control.IsServerOk()) rig.control.DownloadFile();
    };
    rig.Probe(Answer("200 OK", Length(300), ""));
    ASSERT_TRUE(rig.socket->DeliverConnect());
    EXPECT_EQ(rig.socket->sent.back(), Request(""));
    // The download answer announces no length: it runs until the close, which finds the
    // probe's length met.
    const std::string body = Body(300);
    rig.Deliver(Answer("200 OK", "", body.substr(0, 100)));
    rig.Deliver(body.substr(100, 150));
    rig.Deliver(body.substr(250));
    ASSERT_TRUE(rig.socket->DeliverClose());
    EXPECT_EQ(rig.host.log,
              "headerread; Progress(100,300); Progress(250,300); Progress(300,300); downloaded(f)");
    EXPECT_EQ(rig.files.Bytes("f"), body);
    rig.ExpectEnded();
}

TEST(GorDownload, DownloadAnswerInAnyPiecesWritesTheBodyOnly) {
    const std::string body = Body(1000);
    for (Split split : kSplits) {
        Rig rig;
        rig.ProbeThenDownload(Length(1000));
        rig.Deliver(Answer("200 OK", Length(1000), body), split);
        EXPECT_EQ(rig.files.Bytes("f"), body);
        // One Progress per chunk once the header is complete, none while it is partial.
        const long progress = split == Split::Whole ? 1 : split == Split::Halves ? 2 : 1001;
        EXPECT_TRUE(rig.host.log.ends_with("Progress(1000,1000); downloaded(f)"));
        EXPECT_EQ(std::count(rig.host.log.begin(), rig.host.log.end(), ';'), progress);
    }
}

TEST(GorDownload, ResumesANonEmptyFile) {
    const std::tuple<std::string, std::string, std::string, std::string, std::string> cases[] = {
        // held, answer status and fields, Range line, body, file afterwards
        {"", "200 OK", "", "abc", "abc"},
        {std::string(5000, 'a'), "206 Partial Content\r\nContent-Range: bytes 904-5001/5002",
         "Range: bytes=904-\r\n", std::string(4096, 'a') + "bc", std::string(5000, 'a') + "bc"},
        {"x", "206 Partial Content\r\nContent-Range: bytes 0-2/3", "Range: bytes=0-\r\n", "xyz",
         "xyz"},
        // The whole resource instead of the rest: written from 0, no old bytes left behind.
        {"old content here", "200 OK", "Range: bytes=0-\r\n", "new", "new"},
    };
    for (const auto& [held, status, range, body, after] : cases) {
        Rig rig;
        if (!held.empty()) rig.files.entries["f"].bytes = held;
        rig.ProbeThenDownload(Length(after.size()));
        EXPECT_EQ(rig.socket->sent.back(), Request(range));
        EXPECT_EQ(rig.control.Resuming(), !held.empty());
        rig.Deliver(Answer(status, Length(body.size()), ""));  // the header alone
        rig.Deliver(body);
        const std::string start = Num(status[2] == '6' ? double(held.size()) : 0);
        const std::string total = Num(double(after.size()));
        EXPECT_EQ(rig.host.log, "Progress(" + start + "," + total + "); Progress(" + total + "," +
                                    total + "); downloaded(f)");
        EXPECT_EQ(rig.files.Bytes("f"), after);
    }
}

TEST(GorDownload, CancelEndsSilently) {
    Rig idle;
    idle.control.Cancel_Download();
    EXPECT_EQ(idle.host.log, "canceled");
    EXPECT_FALSE(idle.control.IsExecuting());

    Rig rig;
    rig.ProbeThenDownload(Length(300));
    rig.Deliver(Answer("200 OK", "", "12345"));
    rig.control.Cancel_Download();
    EXPECT_FALSE(rig.socket->DeliverData("more") || rig.socket->DeliverClose());
    EXPECT_EQ(rig.host.log, "Progress(5,300); canceled");
    EXPECT_EQ(rig.files.Bytes("f"), "12345");
    rig.ExpectEnded();

    Rig last;  // cancelled from inside the last chunk's Progress: canceled is the last word
    last.ProbeThenDownload(Length(3));
    last.host.react = [&](const std::string& e) {
        if (e.starts_with("Progress")) last.control.Cancel_Download();
    };
    last.Deliver(Answer("200 OK", "", "abc"));
    EXPECT_EQ(last.host.log, "Progress(3,3); canceled");
    last.ExpectEnded();
}

TEST(GorDownload, ServerCloseInEachMode) {
    const std::string partial = "HTTP/1.1 200 OK\r\nConten", some = Answer("200 OK", "", "12345");
    const std::tuple<bool, std::string, std::string, std::string> cases[] = {
        // download?, probe's length field, bytes before the close, events
        // A probe whose answer never came whole ends like a cut download.
        {false, "", "", "Disconnected"},
        {false, "", partial, "Disconnected"},
        {true, Length(10), Answer("200 OK", Length(10), "12345"), "Progress(5,10); Disconnected"},
        // Short of the probe's length, a body read to the close is cut, as by a reset.
        {true, Length(10), some, "Progress(5,10); Disconnected"},
        {true, Length(10), partial, "Disconnected"},
        {true, "", some, "Progress(5,-1); downloaded(f)"},
        {true, "", Answer("200 OK", "", ""), "Progress(0,-1); downloaded(f)"},
        // No header of the answer accepted: nothing shows that the download finished.
        {true, "", "", "Disconnected"},
        {true, "", partial, "Disconnected"},
    };
    for (const auto& [download, probeFields, bytes, events] : cases) {
        Rig rig;
        if (download) rig.ProbeThenDownload(probeFields);
        if (!download) rig.control.Readheaders(), rig.socket->DeliverConnect();
        rig.Deliver(bytes);
        ASSERT_TRUE(rig.socket->DeliverClose());
        EXPECT_EQ(rig.host.log, events) << bytes;
        rig.ExpectEnded();
    }
}

TEST(GorDownload, SocketErrorsAndRefusedAnswersEndEitherPhase) {
    Rig probe;
    probe.control.Readheaders();
    probe.socket->DeliverError("Connection refused");
    EXPECT_EQ(probe.host.log, "DownloadError(Connection refused,false)");
    probe.ExpectEnded();

    Rig download;
    download.ProbeThenDownload(Length(10));
    download.Deliver(Answer("200 OK", "", "12345"));
    download.socket->DeliverError("Connection reset");
    EXPECT_EQ(download.host.log, "Progress(5,10); DownloadError(Connection reset,false)");
    download.ExpectEnded();

    Rig refused;
    refused.ProbeThenDownload(Length(10));
    refused.Deliver(Answer("404 Not Found", "", "gone"));
    EXPECT_EQ(refused.host.log, "DownloadError(File not found,true)");
    refused.ExpectEnded();

    Rig send;  // the request cannot be sent: the host hears of it like a socket error
    send.control.Readheaders();
    send.socket->failSend = true;
    send.socket->DeliverConnect();
    EXPECT_EQ(send.host.log, "DownloadError(send: " + SystemText(ENOTCONN).substr(3) + ",false)");
    send.ExpectEnded();
}

TEST(GorDownload, DataFailuresReportAndKeepWhatWasWritten) {
    Rig rig;  // the disk fills up at the second chunk
    rig.ProbeThenDownload(Length(300));
    rig.files.diskSpace = 150;
    rig.Deliver(Answer("200 OK", "", Body(100)));
    rig.Deliver(Body(100));
    EXPECT_EQ(rig.host.log, "Progress(100,300); DownloadError(" + SystemText(ENOSPC) + ",false)");
    EXPECT_EQ(rig.files.Bytes("f"), Body(100));
    rig.ExpectEnded();

    Rig nested;  // DownloadFile from headerread cannot open its file: the wait must still end
    nested.files.entries["f"].readOnly = true;
    nested.host.react = [&](const std::string& e) {
        if (e == "headerread") nested.control.DownloadFile();
    };
    nested.Probe(Answer("200 OK", Length(3), ""));
    EXPECT_EQ(nested.host.log, "headerread; DownloadError(" + SystemText(EACCES) + ",false)");
    nested.ExpectEnded();

    Rig direct;  // the same failure told by throwing: its connection is dropped quietly
    direct.files.entries["f"].readOnly = true;
    EXPECT_THROW(direct.control.DownloadFile(), std::system_error);
    EXPECT_TRUE(direct.socket->DeliverConnect());
    EXPECT_TRUE(direct.socket->sent.empty() && direct.host.log.empty());
    direct.ExpectEnded();

    Rig twice;  // a new DownloadFile closes the file an unfinished one left open
    twice.control.DownloadFile();
    twice.control.DownloadFile();
    EXPECT_EQ(twice.files.openFiles, 1);

    Rig quiet;  // a failure after Cancel_Download (here, in the host's own handler) is silent
    quiet.host.react = [&](const std::string& e) {
        if (e != "headerread") return;
        quiet.control.Cancel_Download();
        throw std::runtime_error("host");
    };
    quiet.Probe(Answer("200 OK", Length(3), ""));
    EXPECT_EQ(quiet.host.log, "headerread; canceled");
}

TEST(GorDownload, FailingFileCloseStillEndsTheRequest) {
    Rig cut;  // the server cuts a download short and the file's close fails
    cut.ProbeThenDownload(Length(10));
    cut.files.failCloses = true;
    cut.Deliver(Answer("200 OK", Length(10), Body(5)));
    ASSERT_TRUE(cut.socket->DeliverClose());
    EXPECT_EQ(cut.host.log, "Progress(5,10); Disconnected");
    cut.ExpectEnded();

    Rig full;  // a write fails, then so does the close: the error is still reported
    full.ProbeThenDownload(Length(10));
    full.files.failCloses = true;
    full.files.diskSpace = 0;
    full.Deliver(Answer("200 OK", "", Body(5)));
    EXPECT_EQ(full.host.log, "DownloadError(" + SystemText(ENOSPC) + ",false)");
    full.ExpectEnded();
}

TEST(GorDownload, AnswerHeaderIsBoundedAt64KiB) {
    auto header = [](std::size_t size) {  // a header block of `size` bytes, blank line included
        const std::string start = "HTTP/1.1 200 OK\r\n" + Length(5) + "X: ";
        return start + std::string(size - start.size() - 4, 'x') + "\r\n\r\n";
    };
    for (Split split : kSplits) {
        Rig fits, probe, download;
        fits.Probe(header(kMaxAnswerHeader) + "body", split);
        EXPECT_EQ(fits.host.log, "headerread");
        probe.Probe(header(kMaxAnswerHeader + 1), split);
        EXPECT_EQ(probe.host.log, std::string("DownloadError(") + kHeaderTooLarge + ",false)");
        probe.ExpectEnded();
        download.ProbeThenDownload(Length(5));
        download.Deliver("HTTP/1.1 200 OK\r\n" + std::string(70000, 'x'), split);
        EXPECT_EQ(download.host.log, std::string("DownloadError(") + kHeaderTooLarge + ",false)");
        download.ExpectEnded();
    }
}

// `body` in chunked coding: chunks of 1, 0x1F and 0xff bytes in turn (hex in both letter
// cases), with extensions, then the last chunk with a trailer field.
std::string Chunked(const std::string& body) {
    static constexpr const char* kSizes[] = {"1;a=b", "1F", "ff;x=\"y\""};
    static constexpr std::size_t kValues[] = {1, 0x1F, 0xff};
    std::string coded;
    for (std::size_t at = 0, n = 0; at < body.size(); at += kValues[n % 3], ++n) {
        const std::size_t size = std::min(kValues[n % 3], body.size() - at);
        char line[16];
        std::snprintf(line, sizeof line, n % 2 ? "%zx" : "%zX", size);
        coded += (size == kValues[n % 3] ? std::string(kSizes[n % 3]) : line) + "\r\n" +
                 body.substr(at, size) + "\r\n";
    }
    return coded + "0\r\nX-Sum: 1\r\n\r\n";
}

TEST(GorDownload, ChunkedBodyInAnyPiecesIsDecodedAndEndsAtTheLastChunk) {
    const std::string body = Body(1000);
    for (Split split : kSplits) {
        Rig rig;
        rig.ProbeThenDownload(Length(1000));  // chunked coding wins over the answer's length
        rig.Deliver(
            Answer("200 OK", "Transfer-Encoding: chunked\r\n" + Length(3), Chunked(body) + "stray"),
            split);
        EXPECT_EQ(rig.files.Bytes("f"), body);
        EXPECT_TRUE(rig.host.log.ends_with("Progress(1000,1000); downloaded(f)")) << rig.host.log;
        EXPECT_EQ(rig.host.log.find(",3)"), std::string::npos);
        rig.ExpectEnded();
    }
}

TEST(GorDownload, ChunkedBodyBrokenOrCutShort) {
    const std::string coded = Chunked(Body(100));
    const std::string start = Answer("200 OK", "Transfer-Encoding: chunked\r\n", "");
    Rig cut;  // closed before the last chunk: not complete, whatever arrived
    cut.ProbeThenDownload("");
    cut.Deliver(start + coded.substr(0, coded.size() - 5));
    ASSERT_TRUE(cut.socket->DeliverClose());
    EXPECT_EQ(cut.host.log, "Progress(100,-1); Disconnected");
    cut.ExpectEnded();

    Rig broken;  // garbage where the CR LF after a chunk's data belongs
    broken.ProbeThenDownload("");
    broken.Deliver(start + "3\r\nabcX\r\n0\r\n\r\n");
    EXPECT_EQ(broken.host.log, std::string("DownloadError(") + kNoChunkDataEnd + ",false)");
    EXPECT_EQ(broken.files.Bytes("f"), "abc");
    broken.ExpectEnded();

    Rig coding;  // a coding the control cannot decode is refused before anything is written
    coding.ProbeThenDownload("");
    coding.Deliver(Answer("200 OK", "Transfer-Encoding: gzip, chunked\r\n", coded));
    EXPECT_EQ(coding.host.log, std::string("DownloadError(") + kUnsupportedCoding + ",false)");
    EXPECT_EQ(coding.files.Bytes("f"), "");
}

TEST(GorDownload, TheDownloadAnswersOwnFramingDecides) {
    Rig late;  // no length at the probe; the download answer announces one and is cut
    late.ProbeThenDownload("");
    late.Deliver(Answer("200 OK", Length(10), "12345"));
    ASSERT_TRUE(late.socket->DeliverClose());
    EXPECT_EQ(late.host.log, "Progress(5,10); Disconnected");

    Rig stray;  // bytes past the announced length are dropped
    stray.ProbeThenDownload(Length(5));
    stray.Deliver(Answer("200 OK", Length(5), "12345678"));
    EXPECT_EQ(stray.host.log, "Progress(5,5); downloaded(f)");
    EXPECT_EQ(stray.files.Bytes("f"), "12345");

    const std::string refused[][2] = {
        {"200 OK", Length(5) + Length(8)},
        // Asked for everything from 0 (no Range line), answered with a piece from 100 on.
        {"206 Partial Content", "Content-Range: bytes 100-199/200\r\n" + Length(100)},
    };
    for (const auto& [status, fields] : refused) {
        Rig rig;
        rig.ProbeThenDownload(Length(200));
        rig.Deliver(Answer(status, fields, Body(100)));
        EXPECT_EQ(rig.host.log, std::string("DownloadError(") +
                                    (status[2] == '6' ? kRangeNotAsked : kConflictingLengths) +
                                    ",false)");
        EXPECT_EQ(rig.files.Bytes("f"), "");
        rig.ExpectEnded();
    }
}

// Answers read as a strict HTTP/1.1 client reads them: whatever a malformed header would say
// of its body, the body is never called complete; nothing is written past a failure.
TEST(GorDownload, ReadsAnswersAsHttp11Asks) {
    const std::string body = "0123456789", ok = "HTTP/1.1 200 OK\r\n";
    const auto failed = [](const char* why) {
        return "DownloadError(" + std::string(why) + ",false)";
    };
    // probe's fields, download answer, its ending, the file's bytes
    std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases = {
        {Length(10), ok + "Content-Length:  10 \t\r\n\r\n" + body, "downloaded(f)", body},
        {Length(10), "HTTP/1.2 200 OK\r\n" + Length(10) + "\r\n" + body, "downloaded(f)", body},
        {Length(10),
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Hints\r\nLink: <x>\r\n\r\n" + ok + Length(10) +
             "\r\n" + body,
         "downloaded(f)", body},
        {Length(10), "HTTP/1.1 101 Switching Protocols\r\n\r\n" + ok + "\r\n" + body,
         "DownloadError(HTTP/1.1 101 Switching Protocols,true)", ""},
        // A folded line continues the field before it: no length, so until the close.
        {Length(10), ok + "X-A: b\r\n Content-Length: 5\r\n\r\n" + body, "downloaded(f)", body},
        {Length(10), ok + " Content-Length: 5\r\n\r\n" + body, failed(kBadFieldLine), ""},
        {Length(10), ok + "Content-Length : 5\r\n\r\n" + body, failed(kBadFieldLine), ""},
        {Length(10), ok + "no colon\r\n\r\n" + body, failed(kBadFieldLine), ""},
        {Length(10), ok + std::string("X-A: b\0c\r\n\r\n", 12) + body, failed(kBadFieldLine), ""},
        {Length(10), ok + "X-A: b\nContent-Length: 5\r\n\r\n" + body, failed(kBadLineEnd), ""},
        {Length(10), ok + "X-A: b\rContent-Length: 5\r\n\r\n" + body, failed(kBadLineEnd), ""},
        {Length(10), "HTTP/1.1 200 OK\nContent-Length: 10\n\nab\r\n\r\ncdef", failed(kBadLineEnd),
         ""},
        {Length(10),
         "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-9/10\r\n" + Length(5) + "\r\n" + body,
         failed(kConflictingLengths), ""},
        {Length(10),
         "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-4/5\r\n" + Length(10) + "\r\n" + body,
         failed(kConflictingLengths), ""},
        {Length(10), ok + "Transfer-Encoding: chunked\r\n\r\n5\r\n01234\r\n0\r\nno colon\r\n\r\n",
         failed(kBadTrailer), "01234"},
        {Length(10), ok + "Transfer-Encoding: chunked\r\n\r\n5\r\n01234\r\n0\r\n56789\r\n0\r\n\r\n",
         failed(kBadTrailer), "01234"},
        // Lengths judge, HTTP frames: a range or the probe's length never ends a body.
        {"", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-4/5\r\n\r\n" + body,
         failed(kBodyNotAnnounced), "01234"},
        {Length(11), ok + Length(8) + "\r\n" + body, failed(kBodyNotAnnounced), ""},
        {Length(5), ok + "\r\n" + body, failed(kBodyNotAnnounced), "01234"},
        {Length(10), ok + "\r\n01234", "Disconnected", "01234"},
        {Length(0), ok + "\r\n" + body, failed(kBodyNotAnnounced), ""},
    };
    for (const char* length : {"abc", "-1", "-10", "", "1 0", "1e1", "9.5"}) {
        cases.emplace_back(Length(10), ok + "Content-Length: " + length + "\r\n\r\n" + body,
                           failed(kBadLength), "");
    }
    for (const char* status : {"XTTP/1.1 200 OK", "FOOBAR!! 200 yes", "HTTP/1.1 2000 OK"}) {
        cases.emplace_back(Length(10), status + std::string("\r\n") + Length(10) + "\r\n" + body,
                           failed(kBadStatusLine), "");
    }
    for (Split split : kSplits) {
        for (const auto& [probe, answer, ending, file] : cases) {
            SCOPED_TRACE(testing::PrintToString(answer) + " split " + std::to_string(int(split)));
            Rig rig;
            rig.ProbeThenDownload(probe);
            rig.Deliver(answer, split);
            rig.socket->DeliverClose();
            const auto last = rig.host.log.rfind("; ");
            EXPECT_EQ(last == std::string::npos ? rig.host.log : rig.host.log.substr(last + 2),
                      ending);
            // A refused header leaves no accepted answer behind; every ending ends the request.
            const bool refusedHead = ending == failed(kBadLineEnd) ||
                                     ending == failed(kBadFieldLine) ||
                                     ending == failed(kBadStatusLine);
            EXPECT_FALSE(rig.control.IsExecuting() || (refusedHead && rig.control.IsServerOk()));
            // A failure may leave less than the bytes before it, never more.
            const std::string& written = rig.files.Bytes("f");
            EXPECT_TRUE(ending == "downloaded(f)" ? written == file : file.starts_with(written));
        }
    }
}

TEST(GorDownload, ProbeRaisesAtMostOneDownloadError) {
    Rig bad;  // a refused status with a length beyond any number: the status alone is told
    bad.Probe(Answer("500 Oops", "Content-Length: 1E999\r\n", ""));
    EXPECT_EQ(bad.host.log, "DownloadError(HTTP/1.1 500 Oops,true); headerread");
    bad.ExpectEnded();

    Rig conflict;  // an accepted status with lengths in conflict: refused, no headerread
    conflict.Probe(Answer("200 OK", Length(5) + Length(6), ""));
    EXPECT_EQ(conflict.host.log, std::string("DownloadError(") + kConflictingLengths + ",false)");
}

TEST(GorDownload, BodyIsBoundedByTheCap) {
    constexpr std::size_t kCap = build::kMaxBodyBytes;
    Rig announced;  // refused before a byte is written
    announced.ProbeThenDownload("");
    announced.Deliver(Answer("200 OK", Length(kCap + 1), "12345"));
    EXPECT_EQ(announced.host.log, std::string("DownloadError(") + kBodyTooLarge + ",false)");
    EXPECT_EQ(announced.files.Bytes("f"), "");

    const std::string piece(kCap / 8, 'x');
    for (bool oneMore : {false, true}) {
        Rig endless;  // no length anywhere: the cap itself is accepted, a byte more is not
        endless.ProbeThenDownload("");
        endless.Deliver(Answer("200 OK", "", ""));
        for (int i = 0; i < 8; ++i) endless.Deliver(piece);
        if (oneMore) {
            endless.Deliver("y");
        } else {
            ASSERT_TRUE(endless.socket->DeliverClose());
        }
        EXPECT_TRUE(endless.host.log.ends_with(oneMore ? std::string("DownloadError(") +
                                                             kBodyTooLarge + ",false)"
                                                       : std::string("downloaded(f)")));
        EXPECT_EQ(endless.files.Bytes("f").size(), kCap);
    }
}

}  // namespace
}  // namespace gor::download
