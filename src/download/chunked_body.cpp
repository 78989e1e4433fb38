// Decoding the chunked transfer coding, one state per place in the grammar.
#include "download/chunked_body.h"

#include <algorithm>
#include <limits>

#include "download/text.h"

namespace gor::download {
namespace {

// The value of a hexadecimal digit, or -1.
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ChunkedDecoder::Fail(const char* why) {
    failure_ = why;
    return false;
}

bool ChunkedDecoder::CountLineByte() {
    return ++line_ <= kMaxChunkLine || Fail(kChunkLineTooLong);
}

bool ChunkedDecoder::IgnoredLineByte(char c, State lineFeed) {
    if (c == '\r') {
        state_ = lineFeed;
        return true;
    }
    if (c == '\n') return Fail(kChunkBadLineEnd);
    CountLineByte();
    return true;
}

std::string_view ChunkedDecoder::Decode(std::string_view& in) {
    while (!in.empty() && !failure_ && state_ != State::Finished) {
        if (state_ == State::Data) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(in.size())));
            const std::string_view data = in.substr(0, n);
            in.remove_prefix(n);
            remaining_ -= n;
            decoded_ += n;
            if (remaining_ == 0) state_ = State::DataCR;
            return data;
        }
        const char c = in.front();
        if (state_ >= State::Trailer && state_ <= State::TrailerLF) {
            if (++trailer_ > kMaxTrailerSection) {
                Fail(kTrailerTooLarge);
                break;
            }
        }
        switch (state_) {
            case State::Size: {
                const int digit = HexValue(c);
                if (digit < 0) {
                    if (!sizeDigits_) Fail(kBadChunkSize);
                    state_ = State::SizeEnd;
                    continue;  // the same byte again, as what follows the size
                }
                if (remaining_ > (std::numeric_limits<std::uint64_t>::max() >> 4)) {
                    Fail(kChunkSizeOverflow);
                    continue;
                }
                remaining_ = remaining_ << 4 | static_cast<std::uint64_t>(digit);
                sizeDigits_ = true;
                CountLineByte();
                break;
            }
            case State::SizeEnd:
                if (c == '\r') {
                    state_ = State::SizeLineLF;
                } else if (c == ';' || c == ' ' || c == '\t') {
                    if (c == ';') state_ = State::Extension;
                    CountLineByte();
                } else {
                    Fail(kBadChunkSize);
                    continue;
                }
                break;
            case State::Extension:
                if (!IgnoredLineByte(c, State::SizeLineLF)) continue;
                break;
            case State::SizeLineLF:
                if (c != '\n') {
                    Fail(kChunkBadLineEnd);
                    continue;
                }
                line_ = 0;
                state_ = remaining_ == 0 ? State::Trailer : State::Data;
                break;
            case State::DataCR:
            case State::DataLF:
                if (c != (state_ == State::DataCR ? '\r' : '\n')) {
                    Fail(kNoChunkDataEnd);
                    continue;
                }
                if (state_ == State::DataLF) {
                    remaining_ = 0;
                    sizeDigits_ = false;
                    state_ = State::Size;
                } else {
                    state_ = State::DataLF;
                }
                break;
            case State::Trailer:
                // A field's name, a folded continuation of the field before, or the empty line.
                if (c == '\r') {
                    state_ = State::TrailerLF;
                    break;
                }
                if (c == '\n') {
                    Fail(kChunkBadLineEnd);
                    continue;
                }
                if (!IsTokenChar(c) && !(IsBlank(c) && trailerField_)) {
                    Fail(kBadTrailer);
                    continue;
                }
                state_ = IsBlank(c) ? State::TrailerValue : State::TrailerName;
                CountLineByte();
                break;
            case State::TrailerName:
                if (c != ':' && !IsTokenChar(c)) {
                    Fail(c == '\n' ? kChunkBadLineEnd : kBadTrailer);
                    continue;
                }
                if (c == ':') {
                    trailerField_ = true;
                    state_ = State::TrailerValue;
                }
                CountLineByte();
                break;
            case State::TrailerValue:
                if (c != '\r' && c != '\n' && !IsFieldTextChar(c)) {
                    Fail(kBadTrailer);
                    continue;
                }
                if (!IgnoredLineByte(c, State::TrailerLF)) continue;
                break;
            case State::TrailerLF:
                if (c != '\n') {
                    Fail(kChunkBadLineEnd);
                    continue;
                }
                // An empty line ends the trailer section and with it the body.
                state_ = line_ == 0 ? State::Finished : State::Trailer;
                line_ = 0;
                break;
            case State::Data:
            case State::Finished:
                break;
        }
        in.remove_prefix(1);
    }
    return {};
}

}  // namespace gor::download
