// Fuzz target: the body writer held to a plain model of HTTP/1.1's framing: the file a body
// makes, the verdict of completion, whether a resumed piece continues the held bytes. Input:
// flags, held length / 40, length announced (2 bytes), bound / 64, piece size (0: whole), body.
#include <cstdint>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

#include "answer_model.h"
#include "download/answer_limits.h"
#include "download/body_writer.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gor;
    using fuzz::Require;
    using Start = download::BodyWriter::Start;
    if (size < 6) return 0;
    struct FileSink final : download::BodySink {
        std::string file;
        void Write(std::string_view bytes) override { file.append(bytes); }
    } sink;
    const unsigned flags = data[0];
    const bool chunked = flags & 1, partial = flags & 4, foreign = flags & 8, endKnown = flags & 16;
    const bool untilClose = !chunked && (flags & 18) != 16;  // no length of its own
    std::string old;
    for (std::size_t i = 0; i < data[1] * 40u; ++i) old += char('a' + (i * 7 + i / 13) % 26);
    const std::uint64_t end = (data[2] << 8 | data[3]) % 12288;
    const std::uint64_t maxBody = flags & 64 ? std::uint64_t{1} << 40 : data[4] * 64u + 1;
    const std::uint64_t from = download::BodyWriter::ResumeFrom(old.size());
    const std::string held = old.substr(from);
    std::string stream = flags & 32 ? held : "";  // brought again, for a piece to continue
    char line[16];                                // in chunked coding, as one chunk
    if (chunked && !stream.empty())
        stream = std::string(line, std::snprintf(line, 16, "%zx\r\n", held.size())) + held + "\r\n";
    stream.append(reinterpret_cast<const char*>(data) + 6, size - 6);
    const std::size_t piece = data[5] ? data[5] : stream.size() + 1;
    download::BodyWriter writer(maxBody);
    if (!old.empty()) writer.Ask(from, held);
    const Start start = writer.Begin(
        {chunked, untilClose, endKnown ? double(end) : download::kUnknownLength}, partial, foreign);
    const bool refuse = partial && !old.empty() && (foreign || !endKnown || end < old.size());
    Require((start == Start::Mismatch) == refuse,
            "a resumed piece judged wrongly (of another file, or ending in the held bytes)");
    if (start == Start::Mismatch) return 0;
    if (start == Start::Append) sink.file = old;
    bool refused = false, complete = false;
    std::string failure;
    try {
        for (std::size_t at = 0;
             at < stream.size() && !refused && !writer.Complete(/*closed=*/false); at += piece)
            refused = !writer.Write(std::string_view(stream).substr(at, piece), sink);
        complete = writer.Complete(/*closed=*/true);  // the server closes after the stream
    } catch (const std::exception& thrown) {
        failure = thrown.what();
    }
    // The model: the body's bytes, where they go, and what must refuse them.
    const fuzz::Chunked chunks = chunked ? fuzz::DecodeChunked(stream) : fuzz::Chunked{};
    if (chunks.state == fuzz::Chunked::Unclear) return 0;  // clients read it differently
    const std::uint64_t at = partial ? from : 0;           // where the body's first byte goes
    std::string body = chunked ? chunks.data : stream;
    if (!chunked && !untilClose) body = body.substr(0, end > at ? end - at : 0);
    const std::uint64_t total = at + body.size();
    const bool done = !chunked || chunks.state == fuzz::Chunked::Done;
    std::set<std::string> failures;  // any of these may end it; "*" any failure at all
    if (chunks.state == fuzz::Chunked::Malformed) failures.insert("*");
    if (!body.empty() && total > maxBody) failures.insert(download::kBodyTooLarge);
    if (endKnown && (chunked || untilClose) && (total > end || (chunked && done && total < end)))
        failures.insert(download::kBodyNotAnnounced);
    const bool mismatch = partial && held.substr(0, body.size()) != body.substr(0, held.size());
    const std::string file = partial && body.size() < held.size() ? old : old.substr(0, at) + body;
    if (refused) {
        Require(mismatch && sink.file == old, "a continuing piece refused, or a refused one kept");
    } else if (!failure.empty()) {
        Require(failures.count("*") || failures.count(failure), "a good body refused: " + failure);
        Require(file.starts_with(sink.file), "a failed body left bytes not of it");
    } else {
        Require(!mismatch && failures.empty(), "a body taken that the model refuses");
        Require(sink.file == file, "the file is not the body's bytes");
        Require(complete == (done && (!endKnown || total >= end)), "wrong completion verdict");
    }
    return 0;
}
