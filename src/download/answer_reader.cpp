// AnswerReader: the head's bytes gathered across chunks, interim answers skipped, the final
// head read once.
#include "download/answer_reader.h"

#include "download/answer_limits.h"

namespace gor::download {

AnswerReader::Step AnswerReader::Read(std::string_view chunk) {
    if (headRead_) {
        start_.clear();  // the view of the body that followed the head is spent
        return {Step::Verdict::Body, chunk, nullptr};
    }
    // A chunk that completes the head by itself is scanned where it lies, uncopied.
    std::size_t scanned = start_.size();
    std::string_view collected = chunk;
    if (scanned > 0) {
        start_.append(chunk);
        collected = start_;
    }
    for (;;) {
        const HeaderScan scan = ScanAnswerHeader(collected, scanned, limit_ - interim_);
        switch (scan.verdict) {
            case HeaderScan::Verdict::TooLarge:
                return Fail(kHeaderTooLarge);
            case HeaderScan::Verdict::BadLineEnd:
                return Fail(kBadLineEnd);
            case HeaderScan::Verdict::Incomplete:
                if (start_.empty()) {
                    start_.assign(collected);
                } else {  // `collected` is what is left of start_ past interim answers
                    start_.erase(0, start_.size() - collected.size());
                }
                return {};
            case HeaderScan::Verdict::Complete:
                break;
        }
        // The one reading of the answer's head.
        if (const char* failure = head_.Read(collected.substr(0, scan.headerEnd)))
            return Fail(failure);  // a refused header tells nothing: no code, no fields
        if (!IsInterimStatus(head_.code())) {
            headRead_ = true;
            return {Step::Verdict::HeadReady, collected.substr(scan.bodyStart), nullptr};
        }
        // An interim answer has no body: the next answer starts right after its empty line.
        interim_ += scan.bodyStart;
        collected.remove_prefix(scan.bodyStart);
        scanned = 0;
    }
}

void AnswerReader::Restart() {
    start_.clear();
    interim_ = 0;
    headRead_ = false;
}

AnswerReader::Step AnswerReader::Fail(const char* failure) {
    head_.Clear();
    return {Step::Verdict::Failed, {}, failure};
}

}  // namespace gor::download
