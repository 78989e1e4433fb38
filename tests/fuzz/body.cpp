// Fuzz target: the body writer alone. A body framed as the answer's header said (chunked, of
// a length, until the close, a piece of a range that resumes a file) arrives in pieces; the
// file it makes, its verdict (complete, refused, another file's piece) and its failure are
// held to a plain model of HTTP/1.1's rules written here, apart from the writer.
//
// Input: flags, the held file's length / 40, the length announced (2 bytes), the bound on the
// file / 64, the piece size (0: whole), then the body's bytes as they arrive.
#include <algorithm>
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

namespace {

using namespace gor;
using fuzz::Require;

struct Input {
    bool chunked, untilClose, partial, foreign, endKnown;
    std::string old, stream;
    std::uint64_t end, maxBody;
    std::size_t piece;
};

struct Outcome {
    bool mismatch = false, complete = false;
    std::string failure, file;
};

struct FileSink final : download::BodySink {
    std::string& file;
    explicit FileSink(std::string& f) : file(f) {}
    void Write(std::string_view bytes) override { file.append(bytes); }
};

Outcome Run(const Input& in) {
    Outcome out;
    out.file = in.old;
    download::BodyWriter writer(in.maxBody);
    if (!in.old.empty()) {
        const std::uint64_t from = download::BodyWriter::ResumeFrom(in.old.size());
        writer.Ask(from, in.old.substr(from));
    }
    const download::DownloadBody framing{in.chunked, in.untilClose,
                                         in.endKnown ? double(in.end) : download::kUnknownLength};
    const auto start = writer.Begin(framing, in.partial, in.foreign);
    if (start == download::BodyWriter::Start::Mismatch) return out.mismatch = true, out;
    if (start == download::BodyWriter::Start::FromStart) out.file.clear();
    FileSink sink(out.file);
    try {
        for (std::size_t at = 0; at < in.stream.size() && !out.complete; at += in.piece) {
            if (!writer.Write(std::string_view(in.stream).substr(at, in.piece), sink))
                return out.mismatch = true, out;
            Require(writer.Position() == out.file.size(), "Position() is not the file's end");
            out.complete = writer.Complete(/*closed=*/false);
        }
        out.complete = writer.Complete(/*closed=*/true);  // the server closes after the stream
    } catch (const std::exception& failure) {
        out.failure = failure.what();
    }
    return out;
}

// ---- the model

struct Expected {
    bool clear = true;               // false: the chunked framing is one clients read otherwise
    bool mismatch = false;           // the piece does not continue the held bytes
    std::set<std::string> failures;  // any of these may end it; "*" any failure at all
    bool complete = false;
    std::string file;  // the file when nothing fails; a failure leaves a prefix of it
};

Expected Model(const Input& in) {
    Expected e;
    const bool resuming = !in.old.empty();
    const std::uint64_t from = in.old.size() > 4096 ? in.old.size() - 4096 : 0;
    const std::string held = in.old.substr(from);
    // A resumed piece of another file, or of one no longer than the bytes held, is refused.
    if (resuming && in.partial && (in.foreign || !in.endKnown || in.end < in.old.size())) {
        e.mismatch = true;
        return e;
    }
    const std::uint64_t at = in.partial ? from : 0;  // where the body's first byte goes
    std::string body = in.stream;
    fuzz::Chunked chunks;
    if (in.chunked) {
        chunks = fuzz::DecodeChunked(in.stream);
        if (chunks.state == fuzz::Chunked::Unclear) e.clear = false;
        if (chunks.state == fuzz::Chunked::Malformed) e.failures.insert("*");
        body = chunks.data;
    } else if (!in.untilClose && in.endKnown) {
        body.resize(std::min<std::uint64_t>(body.size(), in.end > at ? in.end - at : 0));
    }
    const std::uint64_t total = at + body.size();
    if (!body.empty() && total > in.maxBody) e.failures.insert(download::kBodyTooLarge);
    if (in.endKnown && (in.chunked || in.untilClose) && total > in.end)
        e.failures.insert(download::kBodyNotAnnounced);
    const bool done = !in.chunked || chunks.state == fuzz::Chunked::Done;
    if (in.chunked && done && in.endKnown && total < in.end)
        e.failures.insert(download::kBodyNotAnnounced);
    const std::size_t compared = std::min(body.size(), held.size());
    e.mismatch = resuming && in.partial && body.compare(0, compared, held, 0, compared) != 0;
    e.complete = done && (!in.endKnown || total >= in.end);
    if (!in.partial)
        e.file = body;
    else
        e.file = body.size() < held.size() ? in.old : in.old.substr(0, from) + body;
    return e;
}

void Check(const Input& in) {
    const Outcome out = Run(in);
    const Expected e = Model(in);
    if (!e.clear) return;
    if (out.mismatch) {
        Require(e.mismatch, "a piece that continues the held bytes refused");
        Require(out.file == in.old, "a refused piece changed the file");
        return;
    }
    Require(!e.mismatch || !e.failures.empty(), "a piece of another file taken");
    if (!out.failure.empty()) {
        Require(e.failures.count("*") || e.failures.count(out.failure),
                "a body refused that the model takes: " + out.failure);
        Require(e.file.starts_with(out.file), "a failed body left bytes not of the body");
        return;
    }
    Require(e.failures.empty(), "a body taken that the model refuses");
    Require(out.file == e.file, "the file is not the body's bytes");
    Require(out.complete == e.complete, out.complete ? "an unfinished body taken as complete"
                                                     : "a complete body not taken as such");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const std::uint8_t flags = data[0];
    Input in{.chunked = (flags & 1) != 0,
             // A body without a length of its own runs until the close.
             .untilClose = (flags & 1) == 0 && (flags & 18) != 16,
             .partial = (flags & 4) != 0,
             .foreign = (flags & 8) != 0,
             .endKnown = (flags & 16) != 0};
    for (std::size_t i = 0; i < data[1] * 40u; ++i) in.old += char('a' + (i * 7 + i / 13) % 26);
    in.end = (data[2] << 8 | data[3]) % 12288;
    in.maxBody = flags & 64 ? std::uint64_t{1} << 40 : data[4] * 64u + 1;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 6, size - 6);
    // The held bytes brought again, so that a piece that continues them is reached at all.
    std::string again;
    if (flags & 32) again = in.old.substr(download::BodyWriter::ResumeFrom(in.old.size()));
    if (flags & 32 && in.chunked && !again.empty()) {
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", again.size());
        again = size + again + "\r\n";
    }
    in.stream = again.append(rest);
    in.piece = data[5] ? data[5] : in.stream.size() + 1;
    Check(in);
    return 0;
}
