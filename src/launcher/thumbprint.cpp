// SHA-1 and SHA-256 (FIPS 180-4) of a certificate, small and portable: the one digest Windows
// offers for every certificate is SHA-1, and not every system (Wine among them) gives SHA-256.
#include "launcher/thumbprint.h"

#include <array>
#include <bit>
#include <cstdint>

namespace gor::launcher {

namespace {

using Word = std::uint32_t;
using Block = std::array<Word, 16>;

constexpr std::array<Word, 64> kSha256Rounds = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

void Sha1Block(std::array<Word, 8>& h, const Block& block) {
    std::array<Word, 80> w{};
    for (int t = 0; t < 80; ++t)
        w[t] = t < 16 ? block[t] : std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    Word a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
        Word f, k;
        if (t < 20) {
            f = (b & c) | (~b & d), k = 0x5a827999;
        } else if (t < 40) {
            f = b ^ c ^ d, k = 0x6ed9eba1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d), k = 0x8f1bbcdc;
        } else {
            f = b ^ c ^ d, k = 0xca62c1d6;
        }
        const Word next = std::rotl(a, 5) + f + e + k + w[t];
        e = d, d = c, c = std::rotl(b, 30), b = a, a = next;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
}

void Sha256Block(std::array<Word, 8>& h, const Block& block) {
    std::array<Word, 64> w{};
    for (int t = 0; t < 64; ++t) {
        if (t < 16) {
            w[t] = block[t];
            continue;
        }
        const Word s0 = std::rotr(w[t - 15], 7) ^ std::rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const Word s1 = std::rotr(w[t - 2], 17) ^ std::rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::array<Word, 8> v = h;
    for (int t = 0; t < 64; ++t) {
        const Word s1 = std::rotr(v[4], 6) ^ std::rotr(v[4], 11) ^ std::rotr(v[4], 25);
        const Word choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const Word t1 = v[7] + s1 + choice + kSha256Rounds[t] + w[t];
        const Word s0 = std::rotr(v[0], 2) ^ std::rotr(v[0], 13) ^ std::rotr(v[0], 22);
        const Word majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        for (int i = 7; i > 0; --i) v[i] = v[i - 1];
        v[4] += t1;
        v[0] = t1 + s0 + majority;
    }
    for (int i = 0; i < 8; ++i) h[i] += v[i];
}

}  // namespace

std::string Thumbprint(std::string_view bytes, std::size_t digits) {
    const bool sha1 = digits == kSha1Digits;
    std::array<Word, 8> h =
        sha1 ? std::array<Word, 8>{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0}
             : std::array<Word, 8>{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    // The message, a 1 bit, zeros and its length in bits (big-endian) fill whole 64-byte blocks.
    std::string padded(bytes);
    padded += '\x80';
    while (padded.size() % 64 != 56) padded += '\0';
    const std::uint64_t bits = std::uint64_t{bytes.size()} * 8;
    for (int shift = 56; shift >= 0; shift -= 8) padded += static_cast<char>(bits >> shift);

    for (std::size_t at = 0; at < padded.size(); at += 64) {
        Block block{};
        for (int i = 0; i < 64; ++i)
            block[i / 4] = (block[i / 4] << 8) | static_cast<unsigned char>(padded[at + i]);
        sha1 ? Sha1Block(h, block) : Sha256Block(h, block);
    }

    constexpr const char* kHex = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < (sha1 ? 5 : 8); ++i)
        for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(h[i] >> shift) & 0xF];
    return text;
}

}  // namespace gor::launcher
