// Authenticode signatures on Win32, through WinVerifyTrust. Only a launcher built with a
// publisher pin makes one; wintrust.dll and crypt32.dll are then loaded from the system folder
// when first needed, so an unpinned exe imports nothing more and no DLL beside the exe is
// ever taken.
#pragma once

#include <cstdint>

#include "platform/signatures.h"

namespace gor::platform::win32 {

// Every HeldFile it is given must come from FileSystemWin32.
class SignaturesWin32 final : public Signatures {
  public:
    SignatureFacts VerifySigner(HeldFile& file, const std::string& path) override;
};

// Whether WinVerifyTrust's `status`, with the last error it left (`lastError`), is a finding
// for the pin to decide (0, unsigned, altered, damaged, untrusted, distrusted by the machine)
// rather than a check that could not run. Exposed for tests.
bool IsFinding(std::uint32_t status, std::uint32_t lastError);

}  // namespace gor::platform::win32
