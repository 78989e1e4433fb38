// GorDownload: starting the header probe and the transfer, composing the request, handling
// every chunk of the answer, and the endings (cancel, server close, socket error).
#include "download/gor_download.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "build_config.h"
#include "download/answer_limits.h"
#include "download/body_framing.h"
#include "download/request.h"
#include "download/response.h"
#include "download/resume_validator.h"
#include "download/skip_step.h"
#include "download/text.h"
#include "download/url.h"

namespace gor::download {
namespace {

constexpr std::int32_t kProbe = 0;
constexpr std::int32_t kDownload = 1;

}  // namespace

GorDownload::GorDownload(std::unique_ptr<platform::SocketControl> Winsock1,
                         platform::FileSystem& files)
    : Winsock1_(std::move(Winsock1)),
      files_(files),
      answer_(kMaxAnswerHeader),
      body_(build::kMaxBodyBytes) {
    Winsock1_->SetEventSink(this);
    UserControl_Resize();
}

GorDownload::~GorDownload() {
    EndRequest();  // raises no event: the host may be gone already
}

void GorDownload::URL(const std::string& vNewValue) {
    URL_ = vNewValue;
    AssignUrl(URL_, server_.host, server_.port, path_);
}

void GorDownload::Readheaders() {
    BeginRequest(kProbe);
}

void GorDownload::DownloadFile() {
    BeginRequest(kDownload);
    // Opened after the connection was requested: the Connect notification comes later, from
    // the event loop, and finds the file open.
    targetFile_ = files_.OpenReadWrite(fileName_);
}

void GorDownload::Cancel_Download() {
    request_.cancelled = true;
    EndRequest();
    Events().canceled();
}

void GorDownload::BeginRequest(std::int32_t mode) {
    // A file still open from an earlier unfinished DownloadFile is closed, not leaked.
    EndRequest();
    request_.cancelled = false;
    request_.completed = false;
    body_.Reset();
    record_ = {};
    IsExecuting_ = true;
    request_.mode = mode;
    if (proxy_.host.empty()) {
        Winsock1_->Connect(server_.host, ParsePort(server_.port).value_or(0));
    } else {
        Winsock1_->Connect(proxy_.host, ParsePort(proxy_.port).value_or(0));
    }
}

std::string GorDownload::requestTarget() const {
    return proxy_.host.empty() ? path_ : AbsoluteTarget(server_.host, server_.port, path_);
}

void GorDownload::EndRequest() {
    // The closes are skipped when they fail: every ending must still clear its flags and
    // raise its event, and nothing more can be done for such a socket or file. The file is
    // released before its close, so a failing close still leaves none open.
    SkipOnFailure(skipped_, "closing the socket", [&] { Winsock1_->Close(); });
    if (const std::unique_ptr<platform::File> file = std::move(targetFile_)) {
        SkipOnFailure(skipped_, "closing the target file", [&] { file->Close(); });
    }
    // Every answer brings its own head, also a download's that follows another download.
    answer_.Restart();
    IsExecuting_ = false;
    ++request_.serial;
}

std::string GorDownload::getheader(const std::string& h_name) {
    return std::string(answer_.head().Value(h_name));  // the first field of a name wins
}

void GorDownload::ClearAnswer() {
    answer_.ClearHead();
    reported_.Responsecode.clear();
    reported_.IsServerOk = false;
    reported_.Resumesupported = false;
}

void GorDownload::fillheaders(const std::string& data) {
    ClearAnswer();
    const HeaderScan scan = ScanAnswerHeader(data, 0, std::string::npos);
    if (scan.verdict != HeaderScan::Verdict::Complete) return;  // errorText keeps what it held
    // A malformed header has no fields and no code, so its status is refused.
    SkipOnFailure(skipped_, "reading the answer head",
                  [&] { answer_.ReadWhole(std::string_view(data).substr(0, scan.headerEnd)); });
    TakeAnswer();
}

void GorDownload::TakeAnswer() {
    reported_.Responsecode = answer_.head().code();
    reported_.IsServerOk = false;
    reported_.Resumesupported = false;
    // Skipped when it fails, like every step of reading a header.
    SkipOnFailure(skipped_, "judging the status", [&] {
        StatusVerdict verdict = JudgeStatus(answer_.head());
        reported_.IsServerOk = verdict.IsServerOk;
        reported_.Resumesupported = verdict.Resumesupported;
        if (verdict.errorText) reported_.errorText = std::move(*verdict.errorText);
    });
}

std::string GorDownload::extractstring(const std::string& str, const std::string& cmp,
                                       std::int16_t no) {
    return ExtractString(str, cmp, no);
}

void GorDownload::Resize(int width, int height) {
    size_.width = width;
    size_.height = height;
    UserControl_Resize();
}

void GorDownload::UserControl_Resize() {
    // Whatever size the host gave, the control takes its caption label's size again.
    size_.width = kLabel1Width;
    size_.height = kLabel1Height;
}

void GorDownload::OnConnect() {
    Winsock1_Connect();
}
void GorDownload::OnDataArrival(std::int32_t bytesTotal) {
    Winsock1_DataArrival(bytesTotal);
}
void GorDownload::OnClose() {
    Winsock1_Close();
}
// The socket's failure is kept whole for the host, and told to the handler as the socket's
// Error event gives it: its system code (every WinSock, errno and getaddrinfo code fits the 16
// bits; another reads as 0), text, condition and the socket's name.
void GorDownload::OnError(const platform::SocketFailure& failure) {
    record_.socketFailure = failure;
    const std::int32_t code = failure.systemCode;
    std::string description = failure.text;
    bool cancelDisplay = false;
    Winsock1_Error(std::in_range<std::int16_t>(code) ? static_cast<std::int16_t>(code) : 0,
                   description, static_cast<std::int32_t>(failure.condition), "Winsock1", "", 0,
                   cancelDisplay);
}

void GorDownload::Winsock1_Connect() {
    Resuming_ = false;
    if (request_.mode == kDownload && !targetFile_) {
        // DownloadFile could not open its file and has told its caller by throwing; the
        // connection it had already requested is dropped without a second report.
        EndRequest();
        return;
    }
    try {
        const std::string referrer = Winsock1_->LocalIP();
        std::optional<std::uint64_t> rangeFrom;
        if (request_.mode == kDownload) {
            const std::uint64_t length = targetFile_->Length();
            if (length > 0) {
                // Ask again for the last bytes held, to compare; new bytes go on after them.
                Resuming_ = true;
                const std::uint64_t from = BodyWriter::ResumeFrom(length);
                rangeFrom = from;
                body_.Ask(from, targetFile_->ReadAt(from, length - from));
                targetFile_->Seek(length);
            }
        } else {
            rangeFrom = 0;  // the probe asks for everything and reads only the header
        }
        // A resumed piece is only wanted of the very file the held bytes came from.
        const std::string_view validator = Resuming_ ? std::string_view(IfRange_) : "";
        const std::string request =
            ComposeRequest(requestTarget(), server_.host, referrer, rangeFrom, validator);
        Winsock1_->SendData(request);
        KeepSent(request);
    } catch (const std::exception& failure) {
        // No answer can come to a request that was never sent: end it like a socket error, so
        // a host waiting for the outcome hears of it.
        const std::string description = failure.what();
        EndRequest();
        Events().DownloadError(description, false);
    }
}

// The request line and the fields that say which bytes were asked for, as they went out.
void GorDownload::KeepSent(std::string_view request) {
    record_.sentLine = request.substr(0, request.find(kLineEnd));
    for (std::size_t at = request.find(kLineEnd); at != std::string_view::npos;) {
        const std::size_t start = at + kLineEnd.size();
        at = request.find(kLineEnd, start);
        const std::string_view line = request.substr(start, at - start);
        if (line.starts_with("Range:") || line.starts_with("If-Range:"))
            record_.sentFields.append(record_.sentFields.empty() ? "" : ", ").append(line);
    }
}

void GorDownload::Winsock1_DataArrival(std::int32_t bytesTotal) {
    using Verdict = AnswerReader::Step::Verdict;
    try {  // the failure trap of the data path
        Winsock1_->GetData(data_, bytesTotal);
        if (request_.mode == kDownload) TargetFile();  // throws when the download has no file open
        const AnswerReader::Step step = answer_.Read(data_);
        if (step.verdict == Verdict::Failed) {
            ClearAnswer();  // a head that was refused tells nothing
            throw std::runtime_error(step.failure);
        }
        if (step.verdict == Verdict::NeedMore) return;
        if (request_.mode == kProbe) {
            ProbeAnswer();  // a probe ends at its head: no body comes after it
            return;
        }
        if (step.verdict == Verdict::HeadReady && !DownloadAnswerHeader()) return;
        WriteBody(step.body);
    } catch (const std::exception& failure) {
        DataFailure(failure.what());
        return;
    }

    // The trap is disarmed: from here on a failing step is skipped and the next one runs.
    const std::uint32_t request = request_.serial;
    const std::uint64_t n = body_.Position();
    SkipOnFailure(skipped_, "the Progress handler",
                  [&] { Events().Progress(static_cast<double>(n), reported_.contentLength); });
    // A host that cancelled, restarted or otherwise ended the request from inside Progress has
    // had the last word: nothing more is done or raised for it.
    if (request != request_.serial) return;
    if (body_.Complete(/*closed=*/false)) Downloaded();
}

// The one way a download ends complete: the request's end, then `downloaded`, whose handler's
// failure is skipped.
void GorDownload::Downloaded() {
    request_.completed = true;
    EndRequest();
    const std::string dfile = fileName_;
    SkipOnFailure(skipped_, "the downloaded handler", [&] { Events().downloaded(dfile); });
}

void GorDownload::ProbeAnswer() {
    TakeAnswer();
    // The probe reads no body: a coding it could not decode matters to the download alone,
    // and a length that is no number is no length. Lengths in conflict are refused, as a data
    // failure, but only for an accepted status: a refused one is reported alone.
    const AnnouncedBody announced = ReadAnnouncedBody(answer_.head());
    if (reported_.IsServerOk && announced.failure == kConflictingLengths) {
        throw std::runtime_error(announced.failure);
    }
    const double length = announced.failure ? kUnknownLength : announced.length;
    EndRequest();  // the rest of this answer is never read
    if (!reported_.IsServerOk) {
        const std::uint32_t request = request_.serial;
        const std::string description = reported_.errorText;
        Events().DownloadError(description, true);
        // A host that started a new request from its handler owns the socket now.
        if (request != request_.serial) return;
        Winsock1_->Close();
    }
    reported_.contentLength = length;
    Events().headerread();  // the host may call DownloadFile from here: touch nothing after it
}

// Consumes the head of a download answer. Returns false when its status ended the request;
// otherwise the bytes after it are the body's.
bool GorDownload::DownloadAnswerHeader() {
    TakeAnswer();
    if (!reported_.IsServerOk) {
        EndRequest();
        const std::string description = reported_.errorText;
        Events().DownloadError(description, true);
        return false;
    }
    // The answer's own framing decides where the body ends; the probe's length only judges a
    // body that runs until the close. Refused framing is a data failure, before anything is
    // written.
    const AnswerHead& head = answer_.head();
    const DownloadBody framing =
        FrameDownloadBody(head, reported_.Resumesupported, body_.askedFrom(),
                          reported_.contentLength, build::kMaxBodyBytes);
    if (framing.failure) throw std::runtime_error(framing.failure);
    const bool foreign = ForeignPiece(head.Value("ETag"), head.Value("Last-Modified"), IfRange_);
    const BodyWriter::Start start = body_.Begin(framing, reported_.Resumesupported, foreign);
    // Another file's piece, or a file that ends inside the bytes held.
    if (start == BodyWriter::Start::Mismatch) ResumeMismatch();
    reported_.contentLength = framing.end;
    if (start == BodyWriter::Start::FromStart) {
        // The server ignored the range and sends the whole resource: write it from the start,
        // and drop the old bytes so none remain past the new end.
        platform::File& file = TargetFile();
        file.Seek(0);
        file.Truncate(0);
    }
    return true;
}

// Writes the body bytes among `received` to the target file (BodyWriter::Write); a piece
// whose first bytes are not the held ones is another file's.
void GorDownload::WriteBody(std::string_view received) {
    struct FileSink final : BodySink {
        platform::File& file;
        explicit FileSink(platform::File& f) : file(f) {}
        void Write(std::string_view bytes) override { file.Write(bytes); }
    } sink(TargetFile());
    if (!body_.Write(received, sink)) ResumeMismatch();
}

// A resumed piece that does not continue the held bytes is of another file: none of it is
// written, and the held bytes go too, so the next try fetches the file whole.
void GorDownload::ResumeMismatch() {
    TargetFile().Truncate(0);
    record_.resumeMismatched = true;
    throw std::runtime_error(kResumeMismatch);
}

void GorDownload::DataFailure(const char* what) {
    const std::string description = what;
    EndRequest();
    // After Cancel_Download the host hears nothing more.
    if (!request_.cancelled) Events().DownloadError(description, false);
}

void GorDownload::Winsock1_Close() {
    const bool headRead = answer_.HeadRead();
    EndRequest();
    if (request_.mode != kDownload) {
        // The probe's answer never came whole (a handled one closes the socket itself).
        if (!request_.cancelled) Events().Disconnected();
        return;
    }
    // A body without a length of its own ends at the server's close, but only once the
    // answer's header was accepted: a close before that is never a finished download, nor is
    // one before a chunked body's last chunk. A length the probe announced must be met.
    if (headRead && body_.EndsAtClose() && body_.Complete(/*closed=*/true)) {
        Downloaded();
    } else if (!request_.completed && !request_.cancelled) {
        // Also a body read to the close that falls short of a length known from elsewhere: cut
        // by the close as by a reset.
        Events().Disconnected();
    }
}

void GorDownload::Winsock1_Error(std::int16_t Number, std::string& description, std::int32_t Scode,
                                 const std::string& Source, const std::string& HelpFile,
                                 std::int32_t HelpContext, bool& CancelDisplay) {
    (void)Number, (void)Scode, (void)Source, (void)HelpFile, (void)HelpContext;
    (void)CancelDisplay;  // left as the socket passed it
    EndRequest();
    Events().DownloadError(description, false);
}

platform::File& GorDownload::TargetFile() {
    if (!targetFile_) throw std::runtime_error("No target file is open");
    return *targetFile_;
}

GorDownloadEvents& GorDownload::Events() {
    static GorDownloadEvents unheard;  // a host that set none hears nothing
    return host_ ? *host_ : unheard;
}

}  // namespace gor::download
