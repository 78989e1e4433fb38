// Decoding a body sent with the chunked transfer coding of HTTP/1.1: chunks of a hexadecimal
// size, extensions read and ignored, up to the last (zero-size) chunk and the trailer fields
// after it, checked as field lines and ignored. Every line ends in CR LF.
// A pure, incremental parser: bytes in, body bytes out, no I/O; chunk boundaries may fall
// anywhere in the pieces it is given, and it never holds more than a few numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "download/answer_limits.h"

namespace gor::download {

class ChunkedDecoder {
  public:
    // Takes bytes from the front of `in` and returns the next run of body bytes among them (a
    // view into `in`, empty when the bytes taken were framing only). Returns after at most
    // one run, so a caller writes it and calls again while `in` is not empty. Once Finished()
    // or Failed(), takes nothing more: what is left in `in` is not part of the body.
    std::string_view Decode(std::string_view& in);

    // The last chunk and the trailer section have been read: the body is complete.
    bool Finished() const { return state_ == State::Finished; }
    // The stream is not valid chunked coding; Failure() tells why.
    bool Failed() const { return failure_ != nullptr; }
    const char* Failure() const { return failure_; }
    // Body bytes decoded so far.
    std::uint64_t Decoded() const { return decoded_; }

  private:
    enum class State {
        Size,          // hexadecimal digits of a chunk size
        SizeEnd,       // blanks after the size, then ";" or the line end
        Extension,     // a chunk extension, ignored up to the line end
        SizeLineLF,    // the LF of the chunk-size line
        Data,          // chunk data, `remaining_` bytes left
        DataCR,        // the CR LF after chunk data
        DataLF,        //
        Trailer,       // the start of a trailer line: an empty one ends the body
        TrailerName,   // a trailer field's name, up to its colon
        TrailerValue,  // its value (or a folded continuation of it), ignored
        TrailerLF,     //
        Finished,
    };

    bool Fail(const char* why);
    // Counts one byte of the current line against its bound; false (and failed) when over.
    bool CountLineByte();
    // One byte of a line whose content is ignored (a chunk extension, a trailer field): CR
    // moves on to `lineFeed`, a bare LF fails the stream (false), any other byte is counted.
    bool IgnoredLineByte(char c, State lineFeed);

    State state_ = State::Size;
    const char* failure_ = nullptr;
    std::uint64_t remaining_ = 0;  // the chunk size while reading it, then bytes of data left
    std::size_t line_ = 0;         // bytes of the current line so far
    std::size_t trailer_ = 0;      // bytes of the trailer section so far
    bool sizeDigits_ = false;      // at least one digit of the current chunk size was read
    bool trailerField_ = false;    // a trailer field was read: a folded line may continue it
    std::uint64_t decoded_ = 0;
};

}  // namespace gor::download
