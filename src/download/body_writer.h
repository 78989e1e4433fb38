// The body of a download answer, from its bytes as they arrive to the bytes the file keeps:
// framed (chunked, of a length, until the close, a piece of a range), the held bytes that a
// resume asked for again compared instead of written, and the verdict of when the file is
// complete. Pure: what the file keeps goes to a sink, and nothing else is touched.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/body_framing.h"
#include "download/chunked_body.h"

namespace gor::download {

// Where the bytes of a body that the file keeps go, in their order.
class BodySink {
  public:
    virtual void Write(std::string_view bytes) = 0;

  protected:
    ~BodySink() = default;
};

class BodyWriter {
  public:
    // A resume asks again for this many of the last bytes held (all when the file holds fewer),
    // so that a piece of another file cannot pass for their continuation by one equal byte.
    static constexpr std::uint64_t kResumeOverlap = 4096;
    // Where the range of a resume of a file that holds `held` bytes starts.
    static constexpr std::uint64_t ResumeFrom(std::uint64_t held) {
        return held - std::min(held, kResumeOverlap);
    }

    // A body never makes the file longer than `maxBody` bytes.
    explicit BodyWriter(std::uint64_t maxBody) : maxBody_(maxBody) {}

    // A new request: nothing asked for, nothing held, nothing written.
    void Reset() { *this = BodyWriter(maxBody_); }
    // A resume: the range asked for starts at `from`, and `held`, the file's bytes from there
    // on, are what a piece that continues them brings first.
    void Ask(std::uint64_t from, std::string held);
    std::uint64_t askedFrom() const { return askedFrom_; }

    // What the file does with the answer's body that `framing` describes: the piece asked for
    // (`partial`) goes on after the held bytes; a whole answer to a resume is written from the
    // start, the held bytes dropped; a piece of another file (`foreign`, its validator names
    // another) or of one that ends inside the held bytes is refused.
    enum class Start { Append, FromStart, Mismatch };
    Start Begin(const DownloadBody& framing, bool partial, bool foreign);

    // Passes the body's bytes among `received` to `sink`: decoded from chunked coding, or up to
    // the body's end (bytes past it are not the resource's and are dropped); the held bytes
    // a piece brings again are compared, not passed. Returns false, having passed nothing of
    // `received`, when they differ. Throws when the file would outgrow the bound, when the
    // chunked coding is broken, or when a chunked body or one that runs until the close would
    // make a file of another length than the one announced.
    [[nodiscard]] bool Write(std::string_view received, BodySink& sink);

    // Whether the body has ended where the file must end: a chunked body at its last chunk,
    // one of a length at it, one read until the close at the close (`closed`), each at the
    // length known from elsewhere when there is one.
    bool Complete(bool closed) const;
    // Whether the body ends only at the server's close.
    bool EndsAtClose() const { return untilClose_; }
    // Where the file stands: the bytes written and the held ones not yet brought again.
    std::uint64_t Position() const { return written_ + overlap_.size(); }

  private:
    // Compares and passes one run of body bytes; false when it does not continue the held ones.
    bool Keep(std::string_view run, BodySink& sink);

    std::uint64_t maxBody_;
    bool resuming_ = false;        // a range was asked for to resume held bytes
    std::uint64_t askedFrom_ = 0;  // where the range starts; 0 without one
    std::uint64_t written_ = 0;    // the file position the body has reached
    // The held bytes the piece asks for again and has not yet brought: its first body bytes
    // must be these, and are compared, not written again.
    std::string overlap_;
    bool chunked_ = false;     // the body comes in chunked coding
    bool untilClose_ = false;  // or has no length of its own and runs until the close
    double end_ = kUnknownLength;
    ChunkedDecoder chunks_;
};

}  // namespace gor::download
