// BodyWriter: the framing, the comparison of the held bytes and the verdict of completion.
#include "download/body_writer.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "download/answer_limits.h"

namespace gor::download {

void BodyWriter::Ask(std::uint64_t from, std::string held) {
    resuming_ = true;
    askedFrom_ = from;
    overlap_ = std::move(held);
}

BodyWriter::Start BodyWriter::Begin(const DownloadBody& framing, bool partial, bool foreign) {
    if (resuming_ && partial &&
        (foreign || framing.end < static_cast<double>(askedFrom_ + overlap_.size())))
        return Start::Mismatch;
    if (!partial) overlap_.clear();
    chunked_ = framing.chunked;
    untilClose_ = framing.untilClose;
    end_ = framing.end;
    chunks_ = ChunkedDecoder();
    written_ = partial ? askedFrom_ : 0;
    return resuming_ && !partial ? Start::FromStart : Start::Append;
}

bool BodyWriter::Write(std::string_view received, BodySink& sink) {
    if (!chunked_) {
        if (end_ != kUnknownLength) {
            const double room = std::ceil(end_) - static_cast<double>(written_);
            if (room < static_cast<double>(received.size())) {
                if (untilClose_) throw std::runtime_error(kBodyNotAnnounced);
                received = received.substr(0, room > 0 ? static_cast<std::size_t>(room) : 0);
            }
        }
        return Keep(received, sink);
    }
    while (!received.empty() && !chunks_.Finished()) {
        if (!Keep(chunks_.Decode(received), sink)) return false;
        if (chunks_.Failed()) throw std::runtime_error(chunks_.Failure());
    }
    // The last chunk came short of the length announced before: the file is not the one meant.
    if (chunks_.Finished() && !Complete(/*closed=*/false)) {
        throw std::runtime_error(kBodyNotAnnounced);
    }
    return true;
}

bool BodyWriter::Keep(std::string_view run, BodySink& sink) {
    if (run.empty()) return true;
    const std::size_t held = std::min(run.size(), overlap_.size());
    if (run.substr(0, held) != std::string_view(overlap_).substr(0, held)) return false;
    overlap_.erase(0, held);
    if (run.size() > maxBody_ - std::min(written_, maxBody_)) {
        throw std::length_error(kBodyTooLarge);
    }
    if (chunked_ && end_ != kUnknownLength && static_cast<double>(written_ + run.size()) > end_) {
        throw std::runtime_error(kBodyNotAnnounced);
    }
    sink.Write(run.substr(held));
    written_ += run.size();
    return true;
}

// Write has refused any body past the length known from elsewhere.
bool BodyWriter::Complete(bool closed) const {
    const bool ended = chunked_ ? chunks_.Finished() : !untilClose_ || closed;
    return ended && (end_ == kUnknownLength || static_cast<double>(written_) >= end_);
}

}  // namespace gor::download
