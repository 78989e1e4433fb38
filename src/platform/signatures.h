// Authenticode signatures of programs: what the system found when it verified a program's
// signature, the signer's certificate thumbprints, and the program's own name and version. The
// publisher pin decides on these facts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace gor::platform {

// The two verdicts of the system that concern only the certificate chain's root: a
// self-signed certificate or one of a private authority (CERT_E_UNTRUSTEDROOT), and a chain
// that does not reach a root it knows (CERT_E_CHAINING).
inline constexpr std::uint32_t kUntrustedRoot = 0x800B0109;
inline constexpr std::uint32_t kChaining = 0x800B010A;

struct SignatureFacts {
    std::uint32_t status = 0;  // the system's verdict: 0 when it trusts the signature
    std::string statusText;    // that verdict in words, for the log
    // The file's digest and the signer's signature over it were verified (the steps that
    // check them reported no error), whatever the verdict on the chain.
    bool contentVerified = false;
    // The signer's chain against the code-signing policy with an unknown root allowed: time
    // validity (at the time stamp, or now), code-signing use, nothing explicitly distrusted.
    // 0 when it passes.
    std::uint32_t chainPolicy = 1;
    std::string chainPolicyText;  // why it did not pass, for the log
    // The signer's certificate, SHA-1 and SHA-256 in upper-case hexadecimal; empty when the
    // system names no signer.
    std::string sha1, sha256;
};

// What a program's version resource says of it, as the publisher wrote it when signing.
struct VersionFacts {
    // The name it gives the program (OriginalFilename, of the first of its translations that
    // has one); empty when none names it.
    std::string originalFilename;
    // Its fixed FileVersion a.b.c.d as (a << 48) | (b << 32) | (c << 16) | d; 0 when it has none.
    std::uint64_t fileVersion = 0;
};

class Signatures {
  public:
    virtual ~Signatures() = default;

    // Verifies the signature of the program held in `file` (found at `path`) as the system
    // does, asking nobody, fetching and looking up nothing. An unsigned, altered, damaged or
    // untrusted program is a verdict; only a check that cannot run at all throws
    // std::system_error (a busy file compares equal to std::errc::device_or_resource_busy, as
    // elsewhere).
    virtual SignatureFacts VerifySigner(HeldFile& file, const std::string& path) = 0;

    // Reads the version resource of the program held in `file` (found at `path`). Asked only
    // of a program whose signer is pinned, so no stranger's resource is ever parsed. None is no
    // failure (empty facts); one that cannot be read throws std::system_error.
    virtual VersionFacts ReadVersion(HeldFile& file, const std::string& path) = 0;
};

}  // namespace gor::platform
