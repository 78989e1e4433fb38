// The reference the download control is held to under fuzzing: what an answer, as a server
// delivered it before closing, failing or being cancelled, obliges the control to do. Written
// plainly and apart from the control, from HTTP/1.1's rules for a message body. Where an
// answer is ambiguous (a rule HTTP leaves to the client, or a value of no clear meaning) the
// model says it cannot tell, and only the invariants that hold for every answer are checked.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gor::fuzz {

// How a request ends, as the host hears it.
enum class Ending {
    headerread,    // the probe's answer was handled (after a bad status's DownloadError)
    downloaded,    //
    ServerError,   // DownloadError(text, true): a status other than 200 or 206
    DataError,     // DownloadError(text, false): a socket error or a data failure
    Disconnected,  //
    canceled,      //
};
const char* Name(Ending ending);

// What ended the delivery of an answer: the server closed, the socket failed, the host
// cancelled.
enum class Cut { Close, Error, Cancel };

// The bytes of an answer that arrived before its cut, and after how many of them the disk
// filled up (every later write fails).
struct Delivery {
    std::string bytes;
    Cut cut = Cut::Close;
    std::size_t diskFullAt = std::string::npos;
};

// The length a probe learnt, as the download that follows it sees it.
struct ProbeLength {
    enum Kind { Unknown, Known, Unclear } kind = Unknown;
    std::uint64_t value = 0;
};

struct Expectation {
    bool clear = false;  // false: the model cannot tell; only general invariants apply
    std::set<Ending> endings;
    // The file afterwards is one of `files`; when that is empty, it is the old file or `base`
    // followed by a prefix of `body` (what a failed transfer may leave).
    std::vector<std::string> files;
    std::string base, body;
    std::optional<std::uint64_t> limit;  // the announced length the file never exceeds
    std::string why;                     // what the model made of the answer, for reports
};

// The probe: its ending and the length it learnt.
Expectation ExpectProbe(const Delivery& answer, ProbeLength& length);

// The download into a file that held `old` before, after a probe that learnt `probe`.
Expectation ExpectDownload(const std::string& old, const ProbeLength& probe,
                           const Delivery& answer);

// Where the first line end that is not CR LF stands in `bytes`: a LF without a CR before it,
// or a CR with a byte other than LF after it (a CR on the last byte is not yet judged).
std::size_t FirstBadLineEnd(std::string_view bytes);

// An answer's header block (without its empty line) read by HTTP/1.1's grammar: the status
// line "HTTP/1.x nnn[ reason]", then field lines "token:value" (values without surrounding
// blanks), a line starting with a blank continuing the field before it, no control character
// but tab anywhere. False when the header is malformed.
using FieldList = std::vector<std::pair<std::string, std::string>>;
bool ReadHeaderPlainly(std::string_view header, std::string& code, FieldList& fields);

// A chunked body decoded by HTTP/1.1's rules.
struct Chunked {
    enum State {
        Incomplete,  // more is needed
        LastChunk,   // the last chunk's line is in, its trailer section not yet ended
        Done,        // the trailer section's empty line is in
        Malformed,   // the framing is broken: no client may take this as a body
        Unclear,     // a form some clients take and others refuse
    } state = Incomplete;
    std::string data;             // the chunk data decoded so far
    std::uint64_t announced = 0;  // the sum of the chunk sizes read so far
};
Chunked DecodeChunked(std::string_view body);

// The largest body the model treats as ordinary; anything announced beyond it meets the
// control's bound on a body, which the model does not judge.
inline constexpr std::uint64_t kOrdinaryBody = 64ull << 20;

}  // namespace gor::fuzz
