// Authenticode signatures of programs: whether the system trusts a program's signature, and
// with which certificate it was signed. The publisher pin asks it of an updater to install.
#pragma once

#include <string>

namespace gor::platform {

struct SignerVerdict {
    bool verified = false;    // the signature is intact and the system trusts its chain
    std::string certificate;  // the signer's certificate as encoded (DER), when verified
    std::string reason;       // why it was not verified, for the log
};

class Signatures {
  public:
    virtual ~Signatures() = default;

    // Verifies the signature of the program at `path` as the system does, asking nobody and
    // looking up no revocation. An unsigned, altered or untrusted program is a verdict; only a
    // check that cannot run at all throws std::system_error.
    virtual SignerVerdict VerifySigner(const std::string& path) = 0;
};

}  // namespace gor::platform
