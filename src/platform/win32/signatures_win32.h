// Authenticode signatures on Win32, through WinVerifyTrust. Only a launcher built with a
// publisher pin makes one; wintrust.dll and crypt32.dll are then loaded from the system folder
// when first needed, so an unpinned exe imports nothing more and no DLL beside the exe is
// ever taken.
#pragma once

#include "platform/signatures.h"

namespace gor::platform::win32 {

// Every HeldFile it is given must come from FileSystemWin32.
class SignaturesWin32 final : public Signatures {
  public:
    SignatureFacts VerifySigner(HeldFile& file, const std::string& path) override;
};

}  // namespace gor::platform::win32
