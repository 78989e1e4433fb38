// Collecting an answer's head from its bytes as they arrive: gathered across chunks, interim
// answers (100 Continue and the like) skipped, held to a bound, then read once. Pure: bytes
// in, a verdict and the body bytes after the head out; no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "download/response.h"

namespace gor::download {

class AnswerReader {
  public:
    // The head, interim answers before it included, may take at most `limit` bytes.
    explicit AnswerReader(std::size_t limit) : limit_(limit) {}

    struct Step {
        enum class Verdict {
            NeedMore,   // the head is not complete yet: its bytes are kept for the next chunk
            HeadReady,  // the final answer's head is in head(); `body` is what followed it
            Body,       // the head was read before: the whole chunk is `body`
            Failed,     // the head outgrew the bound or is malformed; `failure` says which
        };
        Verdict verdict = Verdict::NeedMore;
        // A view into the chunk or into the reader's own bytes, valid until the next call.
        std::string_view body;
        const char* failure = nullptr;  // one of the texts of answer_limits.h
    };

    // Takes the next chunk of the answer. A failure also forgets the last head: no code, no
    // fields.
    Step Read(std::string_view chunk);
    // Whether the final answer's head was read since the last Restart.
    bool HeadRead() const { return headRead_; }
    // A new answer: a partly collected head is dropped; the last head read stays readable.
    void Restart();

    // The last head read, or the one given whole to ReadWhole.
    const AnswerHead& head() const { return head_; }
    // Reads a header block given whole, without its ending empty line (AnswerHead::Read).
    const char* ReadWhole(std::string_view headerText) { return head_.Read(headerText); }
    // Forgets the last head: no text, no code, no fields.
    void ClearHead() { head_.Clear(); }

  private:
    Step Fail(const char* failure);

    std::size_t limit_;
    std::string start_;        // an answer's first bytes while its head is still incomplete
    std::size_t interim_ = 0;  // bytes of interim answers skipped before the final one
    bool headRead_ = false;
    AnswerHead head_;
};

}  // namespace gor::download
