// Fuzz target: the whole download control on a scripted socket, as the launcher drives it:
// a probe, then (when the probe's answer is accepted) the download into a file that may
// already hold part of the resource. The input is a script:
//
//   <the file's bytes before the download> @P <probe answer> @D <download answer>
//
// `@D` makes the host start the download from inside headerread, as the launcher does; `@d`
// after the probe has ended. Inside an answer: `@|` ends a piece (one DataArrival), `@c` the
// server closes, `@e` the socket fails, `@k` the host cancels, `@w` the disk is full from here
// on (in the download), `@@` is one "@". An answer that is not cut otherwise ends with the server's
// close. An input without `@P` has no file before and is all probe answer up to `@D`.
//
// Besides crashes it checks: every request ends in exactly one ending and nothing follows it;
// the control lets go of socket and file and is no longer executing; and the answer model's
// verdict: which endings the answer allows, and that the file holds exactly the body's bytes
// (decoded for chunked), a prefix of them after a failure, never more than announced.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "answer_model.h"
#include "download/gor_download.h"
#include "fakes/memory_file_system.h"
#include "fakes/scripted_socket.h"
#include "fuzz_check.h"

namespace {

using namespace gor;
using fuzz::Cut;
using fuzz::Ending;
using fuzz::Require;

constexpr const char* kFile = "gorupd.tmp";
constexpr const char* kSocketFailure = "Connection reset by peer";

struct Step {
    enum Kind { Data, Close, Error, Cancel, DiskFull } kind = Data;
    std::string bytes;
};

struct Script {
    std::string old;
    std::vector<Step> probe, download;
    bool downloadInsideHeaderread = true;
};

// Splits one answer's text into its steps.
std::vector<Step> Steps(std::string_view text) {
    std::vector<Step> steps;
    std::string piece;
    const auto flush = [&] {
        if (!piece.empty()) steps.push_back({Step::Data, std::move(piece)});
        piece.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '@' || i + 1 == text.size()) {
            piece += text[i];
            continue;
        }
        const char mark = text[++i];
        if (mark == '|') {
            flush();
        } else if (mark == 'c' || mark == 'e' || mark == 'k' || mark == 'w') {
            flush();
            const Step::Kind kind = mark == 'c'   ? Step::Close
                                    : mark == 'e' ? Step::Error
                                    : mark == 'k' ? Step::Cancel
                                                  : Step::DiskFull;
            steps.push_back({kind, ""});
        } else if (mark == '@') {
            piece += '@';
        } else {
            piece += '@';
            piece += mark;
        }
    }
    flush();
    return steps;
}

// The file's bytes before the download: the text with `@@` read as "@".
std::string Unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '@' && i + 1 < text.size() && text[i + 1] == '@') ++i;
    }
    return out;
}

// Finds a two-byte mark at or after `from`, skipping escaped "@@".
std::size_t FindMark(std::string_view text, std::string_view marks, std::size_t from) {
    for (std::size_t i = from; i + 1 < text.size(); ++i) {
        if (text[i] != '@') continue;
        if (marks.find(text[i + 1]) != std::string_view::npos) return i;
        if (text[i + 1] == '@') ++i;
    }
    return std::string_view::npos;
}

Script Parse(std::string_view input) {
    Script script;
    std::size_t probeAt = FindMark(input, "P", 0);
    if (probeAt == std::string_view::npos) {
        probeAt = 0;
    } else {
        script.old = Unescape(input.substr(0, probeAt));
        probeAt += 2;
    }
    const std::size_t downloadAt = FindMark(input, "Dd", probeAt);
    script.probe = Steps(input.substr(probeAt, downloadAt - probeAt));
    if (downloadAt != std::string_view::npos) {
        script.downloadInsideHeaderread = input[downloadAt + 1] == 'D';
        script.download = Steps(input.substr(downloadAt + 2));
    }
    return script;
}

// What the model sees of an answer: its bytes up to the first cut.
fuzz::Delivery Delivered(const std::vector<Step>& steps) {
    fuzz::Delivery delivery;
    for (const Step& step : steps) {
        if (step.kind == Step::Data) delivery.bytes += step.bytes;
        if (step.kind == Step::DiskFull && delivery.diskFullAt == std::string::npos) {
            delivery.diskFullAt = delivery.bytes.size();
        }
        if (step.kind == Step::Close) return delivery.cut = Cut::Close, delivery;
        if (step.kind == Step::Error) return delivery.cut = Cut::Error, delivery;
        if (step.kind == Step::Cancel) return delivery.cut = Cut::Cancel, delivery;
    }
    return delivery;
}

struct Event {
    Ending ending;  // Progress is not an ending: `progress` tells it apart
    bool progress = false;
    std::string text;
    double n = 0, total = 0;  // Progress's arguments
};

std::string Describe(const std::vector<Event>& events) {
    std::string out;
    for (const Event& e : events) {
        out += out.empty() ? "" : ", ";
        out += e.progress ? "Progress(" + std::to_string(static_cast<long long>(e.n)) + ")"
                          : std::string(fuzz::Name(e.ending));
    }
    return "[" + out + "]";
}

class Run : public download::GorDownloadEvents {
  public:
    explicit Run(const Script& script) : script_(script) {
        if (!script.old.empty()) files_.entries[kFile].bytes = script.old;
        control_.SetEventHost(this);
        control_.fileName(kFile);
        control_.URL("127.0.0.1/gorupd.new");
    }

    void Go() {
        control_.Readheaders();
        Play(script_.probe, probeEvents_);
        if (!downloading_ && !script_.downloadInsideHeaderread && ProbeAccepted()) {
            StartDownload();
        }
        if (downloading_) Play(script_.download, downloadEvents_);
        Check();
    }

  private:
    // --- the host's side
    void Progress(double downloaded, double Total) override {
        Events().push_back({Ending::downloaded, true, "", downloaded, Total});
    }
    void downloaded(const std::string& dfile) override {
        Require(dfile == kFile, "downloaded names another file");
        Note(Ending::downloaded, dfile);
    }
    void DownloadError(const std::string& description, bool SERVER_ERROR) override {
        Note(SERVER_ERROR ? Ending::ServerError : Ending::DataError, description);
    }
    void headerread() override {
        Note(Ending::headerread, "");
        if (script_.downloadInsideHeaderread && control_.IsServerOk() && !downloading_) {
            StartDownload();  // the launcher's way: from inside the event
        }
    }
    void Disconnected() override { Note(Ending::Disconnected, ""); }
    void canceled() override { Note(Ending::canceled, ""); }

    void Note(Ending ending, std::string text) {
        Events().push_back({ending, false, std::move(text), 0, 0});
    }
    std::vector<Event>& Events() { return downloading_ ? downloadEvents_ : probeEvents_; }
    void StartDownload() {
        downloading_ = true;
        control_.DownloadFile();
    }
    bool ProbeAccepted() const {
        return !probeEvents_.empty() && probeEvents_.back().ending == Ending::headerread &&
               control_.IsServerOk();
    }
    static bool Ended(const std::vector<Event>& events) {
        for (const Event& e : events) {
            if (!e.progress) return true;
        }
        return false;
    }

    // Delivers one answer's steps as its connection allows them.
    void Play(const std::vector<Step>& steps, std::vector<Event>& events) {
        const bool probe = &events == &probeEvents_;
        const auto gone = [&] { return probe && downloading_; };  // the probe's link is closed
        bool connected = false;
        const auto connect = [&] {
            if (!connected) socket_->DeliverConnect();
            connected = true;
        };
        for (const Step& step : steps) {
            if (gone()) return;
            switch (step.kind) {
                case Step::Data:
                    connect();
                    socket_->DeliverData(step.bytes);
                    break;
                case Step::Close:
                    connect();
                    socket_->DeliverClose();
                    return;
                case Step::Error:  // before the connection: the connect itself failed
                    socket_->DeliverError(kSocketFailure);
                    return;
                case Step::Cancel:
                    if (Ended(events)) break;  // nothing runs that could be cancelled
                    control_.Cancel_Download();
                    return;
                case Step::DiskFull:  // the probe writes nothing
                    if (!probe) files_.failWritesTo = kFile;
                    break;
            }
        }
        if (gone()) return;
        connect();
        socket_->DeliverClose();
    }

    // --- the invariants
    void Check() {
        const std::string trail =
            " after probe " + Describe(probeEvents_) + " and download " + Describe(downloadEvents_);
        CheckProbe(trail);
        if (downloading_) CheckDownload(trail);
        const std::vector<Event>& last = downloading_ ? downloadEvents_ : probeEvents_;
        if (last.empty()) return;
        Require(!control_.IsExecuting(), "still executing" + trail);
        Require(socket_->state == test::ScriptedSocket::State::Closed, "socket left open" + trail);
        Require(files_.openFiles == 0, "file left open" + trail);
    }

    void CheckProbe(const std::string& trail) {
        const std::vector<Event>& events = probeEvents_;
        Require(!events.empty(), "the probe ended without an event" + trail);
        for (const Event& e : events) {
            Require(!e.progress && e.ending != Ending::downloaded, "probe wrote a body" + trail);
        }
        // headerread, after at most one DownloadError; or one other ending alone.
        const Ending first = events[0].ending;
        const bool error = first == Ending::ServerError || first == Ending::DataError;
        const bool shape = events.size() == 1 ||
                           (events.size() == 2 && error && events[1].ending == Ending::headerread);
        Require(shape, "probe events out of shape" + trail);

        fuzz::Expectation expected = fuzz::ExpectProbe(Delivered(script_.probe), probeLength_);
        if (!expected.clear) return;
        std::set<Ending> seen;
        for (const Event& e : events) seen.insert(e.ending);
        Require(seen == expected.endings,
                "probe endings not the answer's (" + expected.why + ")" + trail);
    }

    void CheckDownload(const std::string& trail) {
        const std::vector<Event>& events = downloadEvents_;
        Require(!events.empty() && !events.back().progress,
                "the download ended without an ending" + trail);
        for (std::size_t i = 0; i + 1 < events.size(); ++i) {
            Require(events[i].progress, "an event after the download's ending" + trail);
        }
        const Ending ending = events.back().ending;
        Require(ending != Ending::headerread, "headerread in a download" + trail);
        const std::string& file = files_.Has(kFile) ? files_.Bytes(kFile) : std::string();

        const fuzz::Expectation expected =
            fuzz::ExpectDownload(script_.old, probeLength_, Delivered(script_.download));
        if (!expected.clear) return;
        const std::string what = " (" + expected.why + ")" + trail;
        Require(expected.endings.count(ending) != 0,
                std::string("ending ") + fuzz::Name(ending) + " not the answer's" + what);
        // Progress tells the bytes held and the length the file will have, -1 when unknown.
        const double total = expected.limit ? static_cast<double>(*expected.limit) : -1;
        Require(!expected.limit || file.size() <= *expected.limit,
                "file longer than announced" + what);
        for (const Event& e : events) {
            if (!e.progress) continue;
            Require(e.total == total, "Progress with another length" + what);
            Require(total < 0 || e.n <= total, "Progress past the announced length" + what);
        }
        if (ending == Ending::downloaded && events.size() > 1) {
            Require(events[events.size() - 2].n == static_cast<double>(file.size()),
                    "the last Progress is not the file's length" + what);
        }
        bool matches = false;
        if (!expected.files.empty()) {
            for (const std::string& f : expected.files) matches = matches || file == f;
        } else {
            const std::string& b = expected.base;
            matches = file == script_.old ||
                      (file.size() >= b.size() && file.compare(0, b.size(), b) == 0 &&
                       expected.body.compare(0, file.size() - b.size(), file, b.size(),
                                             std::string::npos) == 0 &&
                       file.size() - b.size() <= expected.body.size());
        }
        Require(matches,
                "file is not the answer's body (" + std::to_string(file.size()) + " bytes)" + what);
    }

    const Script& script_;
    test::MemoryFileSystem files_;
    test::ScriptedSocket* socket_ = new test::ScriptedSocket;
    download::GorDownload control_{std::unique_ptr<test::ScriptedSocket>(socket_), files_};
    std::vector<Event> probeEvents_, downloadEvents_;
    bool downloading_ = false;
    fuzz::ProbeLength probeLength_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Script script = Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    Run(script).Go();
    return 0;
}
