// The publisher pin's check: the system's verdict on the signature, then the signer's
// certificate against the pinned thumbprint.
#include "launcher/publisher.h"

#include <exception>

#include "launcher/launch_log.h"
#include "launcher/thumbprint.h"

namespace gor::launcher {

PublisherVerdict PinnedPublisher::Check(const std::string& path) {
    platform::SignerVerdict signature;
    try {
        signature = signatures_.VerifySigner(path);
    } catch (const std::exception& failure) {
        return {false, "cannot check its signature: " + LaunchLog::Failure(failure)};
    }
    if (!signature.verified) return {false, signature.reason};
    const std::string signer = Thumbprint(signature.certificate, thumbprint_.size());
    if (signer != thumbprint_)
        return {false, "signed by " + signer + ", not by the pinned " + thumbprint_};
    return {true, signer};
}

}  // namespace gor::launcher
