// Fuzz target: the chunked body decoder. A stream decodes alike whole and in any pieces; it
// agrees with the reference decoding wherever HTTP/1.1 leaves no choice; and any body, framed
// in chunks of any sizes with extensions and trailers, decodes back to itself.
//
// Input: a first byte selecting the mode and the piece sizes, then either the stream itself
// (mode even) or a body to frame (mode odd; the bytes after it set the chunk sizes).
#include <cstdint>
#include <string>
#include <string_view>

#include "answer_model.h"
#include "download/chunked_body.h"
#include "fuzz_check.h"

namespace {

using gor::download::ChunkedDecoder;
using gor::fuzz::Chunked;
using gor::fuzz::Require;

struct Outcome {
    std::string body;
    bool finished = false;
    std::string failure;
    std::uint64_t decoded = 0;
    std::size_t rest = 0;  // bytes the decoder left untaken
};

// Feeds `stream` in pieces of `piece` bytes (0: whole), calling Decode until each is taken or
// the decoder stops, as the control does.
Outcome Decode(std::string_view stream, std::size_t piece) {
    ChunkedDecoder decoder;
    Outcome out;
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::size_t size = piece == 0 ? stream.size() : piece;
        std::string_view in = stream.substr(at, size);
        const std::size_t given = in.size();
        while (!in.empty()) {
            const char* before = in.data();
            const std::string_view run = decoder.Decode(in);
            Require(run.empty() || (run.data() >= before && run.data() + run.size() <= in.data()),
                    "a body run outside the bytes taken");
            out.body.append(run);
            if (decoder.Finished() || decoder.Failed()) break;
            Require(in.data() != before, "Decode took nothing and gave nothing");
        }
        at += given - in.size();
        if (decoder.Finished() || decoder.Failed()) {
            std::string_view again = in;
            Require(decoder.Decode(again).empty() && again.size() == in.size(),
                    "the decoder took bytes after its end");
            out.rest = stream.size() - at;
            break;
        }
    }
    out.finished = decoder.Finished();
    out.failure = decoder.Failed() ? decoder.Failure() : "";
    out.decoded = decoder.Decoded();
    Require(!(out.finished && decoder.Failed()), "finished and failed at once");
    Require(out.decoded == out.body.size(), "Decoded() is not the bytes handed out");
    return out;
}

void CheckStream(std::string_view stream, std::size_t piece) {
    const Outcome whole = Decode(stream, 0);
    const Outcome pieces = Decode(stream, piece);
    Require(whole.body == pieces.body && whole.finished == pieces.finished &&
                whole.failure == pieces.failure && whole.rest == pieces.rest,
            "pieces decode otherwise than the whole stream");

    const Chunked reference = gor::fuzz::DecodeChunked(stream);
    switch (reference.state) {
        case Chunked::Done:
            Require(whole.finished && whole.body == reference.data, "a valid body not decoded");
            break;
        case Chunked::LastChunk:
        case Chunked::Incomplete:
            Require(!whole.finished && whole.failure.empty() && whole.body == reference.data,
                    "an unfinished body not waited for");
            break;
        case Chunked::Malformed:
            Require(!whole.finished && !whole.failure.empty(), "broken framing accepted");
            Require(reference.data.compare(0, whole.body.size(), whole.body) == 0,
                    "broken framing decoded into other bytes");
            break;
        case Chunked::Unclear:
            break;
    }
}

// Frames `body` in chunks whose sizes `sizes` gives, with an extension on some and a trailer.
std::string Frame(std::string_view body, std::string_view sizes) {
    static const char* const kHex = "0123456789abcdefABCDEF";
    std::string out;
    std::size_t at = 0, k = 0;
    while (at < body.size()) {
        const std::uint8_t s = k < sizes.size() ? static_cast<std::uint8_t>(sizes[k]) : 0xff;
        const std::size_t n = std::min<std::size_t>(body.size() - at, s % 64 + 1);
        char size[32];
        std::snprintf(size, sizeof size, s & 0x40 ? "%zX" : "%zx", n);
        out += (s & 0x80 ? "000" : "") + std::string(size);
        if (k % 3 == 1) out += std::string(";ext=") + kHex[k % 22];
        out += "\r\n";
        out.append(body.substr(at, n)).append("\r\n");
        at += n, ++k;
    }
    out += "0\r\n";
    if (sizes.size() % 2) out += "X-Trailer: 1\r\n";
    return out + "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0];
    const std::size_t piece = mode >> 1 & 0x1f;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (mode % 2 == 0) {
        CheckStream(rest, piece);
        return 0;
    }
    const std::string_view body = rest.substr(0, rest.size() / 2);
    const std::string stream = Frame(body, rest.substr(rest.size() / 2));
    const Outcome out = Decode(stream, piece);
    Require(out.finished && out.body == body && out.rest == 0,
            "a framed body does not decode back");
    CheckStream(stream, piece);
    return 0;
}
