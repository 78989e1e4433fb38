// The publisher pin: an updater is installed or started only when the certificate that signed
// it has the pinned thumbprint. Only a launcher built with a pin makes a PinnedPublisher, so an
// unpinned one links none of this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/trust/version_resource.h"
#include "platform/file_system.h"
#include "platform/signatures.h"

namespace gor::launcher {

struct PublisherVerdict {
    bool pinned = false;  // the updater, signed with a pinned certificate
    std::string reason;   // the signer's thumbprint when pinned, else why not
    std::string signer;   // the signer's thumbprint that matched a pin; empty when none did
    // Not pinned because the machine's own policy distrusts the signer: obeyed, but no
    // verdict on the file, which is kept.
    bool machinePolicy = false;
};

// The signer's side of the pin: whether it lets in a program whose signature the system found
// as `facts` say; `pins` is one or more thumbprints separated by ';' (the certificate now and
// the next one), each 40 or 64 upper-case hexadecimal digits (SHA-1 or SHA-256). A verdict of
// trust passes when the signer has a pinned thumbprint. A root the system does not know (a
// self-signed certificate, a private authority) and the certificate's dates (expired, not yet
// valid, a time stamp that does not verify) are forgiven only for a pinned signer, and only
// when the file's digest and the signature were verified and the chain passes the code-signing
// policy with an unknown root allowed and no date judged: the pin names the certificates that
// count, so neither a chain nor a clock adds to them. The machine's own distrust of a pinned
// signer refuses with machinePolicy set: no verdict on the file. An unsigned file, a damaged
// signature and every other verdict refuse. Pure.
PublisherVerdict DecideSigner(const platform::SignatureFacts& facts, std::string_view pins);

// The program's side, for a program whose signer passed (`signer`, pinned): a pin names the
// updater, not whatever its publisher signed, so the version resource must call the file
// kUpdaterName (in any letter case); and with a floor (`minimumVersion`, not 0) its FileVersion
// must not be below it, so no older updater with a known flaw comes back. Pure.
PublisherVerdict DecideUpdater(const PublisherVerdict& signer, const VersionFacts& version,
                               std::uint64_t minimumVersion);

// A FileVersion a.b.c.d as VersionFacts::fileVersion holds it.
constexpr std::uint64_t FileVersion(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                    std::uint16_t d) {
    return (std::uint64_t{a} << 48) | (std::uint64_t{b} << 32) | (std::uint64_t{c} << 16) | d;
}

// Whether a held updater comes from the publisher. A check that cannot run throws
// std::system_error (a busy file among them, which the caller may wait for), and so does the
// machine's own distrust of the pinned signer: it is obeyed, but it says nothing of the file.
class PublisherCheck {
  public:
    virtual ~PublisherCheck() = default;
    virtual PublisherVerdict Check(platform::HeldFile& file, const std::string& path) = 0;
};

// The system's facts on the signature, decided by DecideSigner (a verdict of the machine's
// policy thrown as a check that cannot run, std::errc::operation_not_permitted); only for a
// pinned signer is the version resource read, from the held file's own bytes, and decided by
// DecideUpdater. `signatures` outlives the object.
class PinnedPublisher final : public PublisherCheck {
  public:
    // `minimumVersion`: the lowest FileVersion let in (FileVersion()), 0 for none.
    PinnedPublisher(std::string_view thumbprints, std::uint64_t minimumVersion,
                    platform::Signatures& signatures)
        : thumbprint_(thumbprints), minimumVersion_(minimumVersion), signatures_(signatures) {}
    PublisherVerdict Check(platform::HeldFile& file, const std::string& path) override;

  private:
    std::string thumbprint_;  // one or more, separated by ';'
    std::uint64_t minimumVersion_;
    platform::Signatures& signatures_;
};

}  // namespace gor::launcher
