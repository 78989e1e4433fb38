// GorDownload: fetches one URL over HTTP/1.1 into one local file, in two phases
// (header probe, then transfer), resuming a non-empty file by byte range, and
// reports to its host through six synchronous events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "download/answer_reader.h"
#include "download/body_framing.h"
#include "download/body_writer.h"
#include "download/response.h"
#include "download/skip_step.h"
#include "platform/file_system.h"
#include "platform/socket_control.h"

namespace gor::download {

// The host's side of the control: one method per event, in declaration order. Every event is
// raised synchronously on the UI thread, and a handler may call back into the control
// (the launcher calls DownloadFile from inside headerread). Unhandled events do nothing.
class GorDownloadEvents {
  public:
    virtual ~GorDownloadEvents() = default;
    virtual void Progress(double downloaded, double Total) { (void)downloaded, (void)Total; }
    virtual void downloaded(const std::string& dfile) { (void)dfile; }
    virtual void DownloadError(const std::string& description, bool SERVER_ERROR) {
        (void)description, (void)SERVER_ERROR;
    }
    virtual void headerread() {}
    virtual void Disconnected() {}
    virtual void canceled() {}
};

class GorDownload : private platform::SocketEvents {
  public:
    // Takes ownership of its socket control `Winsock1`; opens target files through `files`.
    GorDownload(std::unique_ptr<platform::SocketControl> Winsock1, platform::FileSystem& files);
    ~GorDownload() override;
    GorDownload(const GorDownload&) = delete;
    GorDownload& operator=(const GorDownload&) = delete;

    // Where events go (may be null: events are then dropped). The host outlives the control.
    void SetEventHost(GorDownloadEvents* host) { host_ = host; }
    // Where the failures of skipped steps and of the Progress and downloaded handlers, which
    // the control swallows, are told (may be null). Outlives the control like the host.
    void SetSkippedFailures(SkippedFailures* record) { skipped_ = record; }

    // --- properties
    const std::string& URL() const { return URL_; }
    // Stores the URL and derives host, port and path from it. Throws std::overflow_error when a
    // separator stands beyond the 16-bit character positions of the URL.
    void URL(const std::string& vNewValue);
    const std::string& fileName() const { return fileName_; }
    void fileName(const std::string& vNewValue) { fileName_ = vNewValue; }
    bool IsExecuting() const { return IsExecuting_; }
    bool IsServerOk() const { return reported_.IsServerOk; }
    bool Resumesupported() const { return reported_.Resumesupported; }
    bool Resuming() const { return Resuming_; }
    const std::string& Responsecode() const { return reported_.Responsecode; }
    // The validator (an ETag or a Last-Modified date) of the file the target's bytes came from,
    // sent as "If-Range" with a resumed request, so that a file that changed on the server
    // comes whole (200) instead of as a piece to splice on. Empty: none is sent.
    const std::string& IfRange() const { return IfRange_; }
    void IfRange(const std::string& validator) { IfRange_ = validator; }
    // The proxy the next requests go through, at `host` and `port`; an empty host: none, the
    // connection goes to the URL's host. Through a proxy the request line names the whole URL.
    void Proxy(const std::string& host, const std::string& port) {
        proxy_.host = host;
        proxy_.port = port;
    }
    const std::string& proxyHost() const { return proxy_.host; }
    const std::string& proxyPort() const { return proxy_.port; }

    // --- methods
    void Readheaders();      // starts the header probe
    void DownloadFile();     // starts the transfer; throws when the target file cannot be opened
    void Cancel_Download();  // aborts, closes socket and file, raises canceled
    std::string getheader(const std::string& h_name);
    void fillheaders(const std::string& data);
    static std::string extractstring(const std::string& str, const std::string& cmp,
                                     std::int16_t no);

    // --- the control's own surface: the caption label and the size rule
    // Sizes in twips. Whatever size the host gives, the control takes Label1's size again.
    void Resize(int width, int height);
    int Width() const { return size_.width; }
    int Height() const { return size_.height; }
    // Label1, the caption label and the control's only visible content; its size in twips.
    static constexpr const char* kLabel1Caption = "Gorvik Downloader";
    static constexpr int kLabel1Width = 2370;
    static constexpr int kLabel1Height = 300;

    // A resume asks again for this many of the last bytes held (BodyWriter).
    static constexpr std::uint64_t kResumeOverlap = BodyWriter::kResumeOverlap;

    // Read-only views of inner state, for the host's diagnostics and for tests.
    // The length the probe learnt; once a download answer is accepted, the write position
    // that its body must reach (which the probe's length, when there was one, has judged);
    // kUnknownLength: nothing announced one.
    double contentLength() const { return reported_.contentLength; }
    const std::string& errorText() const { return reported_.errorText; }
    const std::string& host() const { return server_.host; }
    const std::string& port() const { return server_.port; }
    const std::string& path() const { return path_; }
    // What the request line asks for: the path, or through a proxy the whole URL.
    std::string requestTarget() const;
    // What the current request sent, for the host's log: its request line, and its "Range"
    // and "If-Range" fields joined by ", " (empty without them). Both empty until it was sent.
    const std::string& sentLine() const { return record_.sentLine; }
    const std::string& sentFields() const { return record_.sentFields; }
    // The last socket error's portable condition (a std::errc value; 0 while there was none),
    // for the host's log and its retries, and the system's own code of it, for the log.
    std::int32_t lastSocketCondition() const {
        return static_cast<std::int32_t>(record_.socketFailure.condition);
    }
    std::int32_t lastSocketSystemCode() const { return record_.socketFailure.systemCode; }
    // Whether the last request's DownloadError was a resumed piece that does not continue the
    // bytes held (kResumeMismatch): the control has emptied the target file.
    bool resumeMismatched() const { return record_.resumeMismatched; }
    // The last parsed answer's status line ("HTTP/1.1 200 OK"), for the host's log.
    std::string_view statusLine() const { return answer_.head().statusLine(); }

  private:
    // Socket notifications, passed on to the handlers below.
    void OnConnect() override;
    void OnDataArrival(std::int32_t bytesTotal) override;
    void OnClose() override;
    void OnError(const platform::SocketFailure& failure) override;

    // Handlers of the socket's notifications and of the control's own resize.
    void Winsock1_Connect();
    void Winsock1_DataArrival(std::int32_t bytesTotal);
    void Winsock1_Close();
    void Winsock1_Error(std::int16_t Number, std::string& description, std::int32_t Scode,
                        const std::string& Source, const std::string& HelpFile,
                        std::int32_t HelpContext, bool& CancelDisplay);
    void UserControl_Resize();

    // Steps of the data path, run inside Winsock1_DataArrival's failure trap.
    void ProbeAnswer();
    bool DownloadAnswerHeader();
    void WriteBody(std::string_view received);
    void DataFailure(const char* description);
    void Downloaded();
    [[noreturn]] void ResumeMismatch();
    void KeepSent(std::string_view request);

    // One way into a request: whatever still runs ends quietly, the flags of a new request
    // are set for `mode` (kProbe or kDownload), and the socket starts connecting.
    void BeginRequest(std::int32_t mode);
    // One way out of a request: the steps every ending shares, in this order: the socket
    // closed, the target file closed, the answer's reading restarted, IsExecuting cleared,
    // the request serial moved on. None of them fails. The caller raises
    // the ending's event right after (none for the quiet endings), and touches nothing else.
    void EndRequest();
    // What an answer without a header says: no fields, no code, nothing accepted.
    void ClearAnswer();
    // Responsecode, IsServerOk, Resumesupported and errorText from the last head read.
    void TakeAnswer();

    platform::File& TargetFile();
    GorDownloadEvents& Events();

    GorDownloadEvents* host_ = nullptr;
    SkippedFailures* skipped_ = nullptr;
    std::unique_ptr<platform::SocketControl> Winsock1_;
    platform::FileSystem& files_;

    // Where a connection goes: a host, and its port as text.
    struct Endpoint {
        std::string host, port;
    };
    std::string URL_, fileName_;
    Endpoint server_;  // the URL's host and port
    std::string path_;
    bool IsExecuting_ = false, Resuming_ = false;
    std::string IfRange_;
    Endpoint proxy_;  // an empty host: none
    // What the control tells of the answers it reads, by the names its properties give them:
    // the last head's status and what it means, the last refusal's description, and the length
    // the body must reach. The status parts are taken together (TakeAnswer) and cleared
    // together (ClearAnswer).
    struct {
        std::string Responsecode;
        bool IsServerOk = false, Resumesupported = false;
        std::string errorText;
        double contentLength = 0;
    } reported_;
    // What the current request did, for the host's log and its retries: what it sent, how its
    // socket failed, whether its resumed piece did not continue the bytes held. Each request
    // starts it empty.
    struct {
        std::string sentLine, sentFields;
        platform::SocketFailure socketFailure;
        bool resumeMismatched = false;
    } record_;
    struct {
        int width = 0, height = 0;
    } size_;  // in twips

    // The current request, or the last one once it ended: which it is, how it ended, and its
    // serial.
    struct {
        std::int32_t mode = 0;  // 0 header probe, 1 download
        bool cancelled = false, completed = false;
        // Moved on by every start and end of a request. A handler that raised an event compares
        // the serial before and after: when it moved, the host started or ended a request from
        // inside its event handler, and the rest of the old request's handling leaves it alone.
        std::uint32_t serial = 0;
    } request_;
    std::unique_ptr<platform::File> targetFile_;
    AnswerReader answer_;  // the current answer's head, and the last one read
    BodyWriter body_;      // the download answer's body, from its bytes to the file's
    std::string data_;     // the chunk being handled; its capacity is reused chunk after chunk
};

}  // namespace gor::download
