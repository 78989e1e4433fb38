// Authenticode signatures on Win32, through WinVerifyTrust. Only a launcher built with a
// publisher pin makes one; wintrust.dll is then loaded from the system folder when first
// needed, so an unpinned exe imports nothing more and no DLL beside the exe is ever taken.
#pragma once

#include "platform/signatures.h"

namespace gor::platform::win32 {

class SignaturesWin32 final : public Signatures {
  public:
    SignerVerdict VerifySigner(const std::string& path) override;
};

}  // namespace gor::platform::win32
