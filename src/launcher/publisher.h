// The publisher pin: an updater from outside the folder is installed only when the certificate
// that signed it has the pinned thumbprint. Only a launcher built with a pin makes a
// PinnedPublisher, so an unpinned one links none of this (nor the digests).
#pragma once

#include <string>
#include <string_view>

#include "platform/signatures.h"

namespace gor::launcher {

struct PublisherVerdict {
    bool pinned = false;  // signed with the pinned certificate
    std::string reason;   // the signer's thumbprint when pinned, else why not
};

// Whether the updater at a path comes from the publisher. Never throws but for memory.
class PublisherCheck {
  public:
    virtual ~PublisherCheck() = default;
    virtual PublisherVerdict Check(const std::string& path) = 0;
};

// The system verifies the signature, and the signer's certificate has `thumbprint` (40 or 64
// upper-case hexadecimal digits: SHA-1 or SHA-256). A check that cannot run refuses.
// `signatures` outlives the object.
class PinnedPublisher final : public PublisherCheck {
  public:
    PinnedPublisher(std::string_view thumbprint, platform::Signatures& signatures)
        : thumbprint_(thumbprint), signatures_(signatures) {}
    PublisherVerdict Check(const std::string& path) override;

  private:
    std::string thumbprint_;
    platform::Signatures& signatures_;
};

}  // namespace gor::launcher
