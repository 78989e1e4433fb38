// Authenticode signatures of programs: what the system found when it verified a program's
// signature, and the signer's certificate thumbprints. The publisher pin decides on these
// facts.
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
// The verdicts that concern only time: a certificate outside its validity period at the time
// stamp or now, expired or not yet valid (CERT_E_EXPIRED), periods that do not nest
// (CERT_E_VALIDITYPERIODNESTING), a time stamp that does not verify (TRUST_E_TIME_STAMP).
inline constexpr std::uint32_t kExpired = 0x800B0101;
inline constexpr std::uint32_t kPeriodNesting = 0x800B0102;
inline constexpr std::uint32_t kTimeStamp = 0x80096005;
// The machine's own distrust, set by its owner or administrator, not found in the file: a
// subject its policy does not trust (TRUST_E_SUBJECT_NOT_TRUSTED), a certificate in its
// disallowed store (TRUST_E_EXPLICIT_DISTRUST), or one its stores call revoked (CERT_E_REVOKED:
// revocation is never looked up, so only the machine's own stores can say so).
inline constexpr std::uint32_t kSubjectNotTrusted = 0x800B0004;
inline constexpr std::uint32_t kExplicitDistrust = 0x800B0111;
inline constexpr std::uint32_t kRevoked = 0x800B010C;
// No signature found (TRUST_E_NOSIGNATURE), and the last errors that agree: unsigned, or no
// form of signature the system knows (TRUST_E_SUBJECT_FORM_UNKNOWN, TRUST_E_PROVIDER_UNKNOWN).
// Any other last error the system passes on with it is a finding on the signature's bytes.
inline constexpr std::uint32_t kNoSignature = 0x800B0100;
inline constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;
inline constexpr std::uint32_t kProviderUnknown = 0x800B0001;

struct SignatureFacts {
    std::uint32_t status = 0;  // the system's verdict: 0 when it trusts the signature
    std::string statusText;    // that verdict in words, for the log
    // The file's digest and the signer's signature over it were verified (the steps that
    // check them reported no error but a time stamp's), whatever the verdict on the chain.
    bool contentVerified = false;
    // The signer's chain against the code-signing policy with an unknown root allowed and
    // its dates not judged: code-signing use, nothing explicitly distrusted. 0 when it passes.
    std::uint32_t chainPolicy = 1;
    std::string chainPolicyText;  // why it did not pass, for the log
    // The signer's certificate, SHA-1 and SHA-256 in upper-case hexadecimal; empty when the
    // system names no signer.
    std::string sha1, sha256;
    // The last error the verification left: what tells "not signed" from a damaged signature
    // when the verdict is kNoSignature.
    std::uint32_t lastError = 0;
};

class Signatures {
  public:
    virtual ~Signatures() = default;

    // Verifies the signature of the program held in `file` (found at `path`) as the system
    // does, asking nobody, fetching and looking up nothing. An unsigned, altered, damaged or
    // untrusted program, and the machine's own distrust, are facts; only a check that cannot
    // run at all (a file, memory or provider failure) throws
    // std::system_error (a busy file compares equal to std::errc::device_or_resource_busy, as
    // elsewhere).
    virtual SignatureFacts VerifySigner(HeldFile& file, const std::string& path) = 0;
};

}  // namespace gor::platform
