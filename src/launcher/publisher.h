// The publisher pin: an updater is installed or started only when the certificate that signed
// it has the pinned thumbprint. Only a launcher built with a pin makes a PinnedPublisher, so an
// unpinned one links none of this.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/signatures.h"

namespace gor::launcher {

struct PublisherVerdict {
    bool pinned = false;  // the updater, signed with a pinned certificate
    std::string reason;   // the signer's thumbprint when pinned, else why not
};

// Whether the pin lets in a program whose signature the system found as `facts` say; `pins`
// is one or more thumbprints separated by ';' (the certificate now and the next one), each 40
// or 64 upper-case hexadecimal digits (SHA-1 or SHA-256). A verdict of trust passes when the
// signer has a pinned thumbprint. A root the system does not know (a self-signed certificate,
// a private authority) is forgiven only for a pinned signer, and only when the file's digest
// and the signature were verified and the chain passes the code-signing policy with an unknown
// root allowed: the pin names the certificates that count, so a chain adds nothing to them.
// And a pin names the updater, not whatever its publisher signed: the version resource must
// call the file kUpdaterName (in any letter case). Every other verdict refuses. Pure.
PublisherVerdict DecidePin(const platform::SignatureFacts& facts, std::string_view pins);

// Whether a held updater comes from the publisher. A check that cannot run throws
// std::system_error (a busy file among them, which the caller may wait for).
class PublisherCheck {
  public:
    virtual ~PublisherCheck() = default;
    virtual PublisherVerdict Check(platform::HeldFile& file, const std::string& path) = 0;
};

// The system's facts on the signature, decided by DecidePin. `signatures` outlives the object.
class PinnedPublisher final : public PublisherCheck {
  public:
    PinnedPublisher(std::string_view thumbprints, platform::Signatures& signatures)
        : thumbprint_(thumbprints), signatures_(signatures) {}
    PublisherVerdict Check(platform::HeldFile& file, const std::string& path) override {
        return DecidePin(signatures_.VerifySigner(file, path), thumbprint_);
    }

  private:
    std::string thumbprint_;  // one or more, separated by ';'
    platform::Signatures& signatures_;
};

}  // namespace gor::launcher
