// WinVerifyTrust with the generic verify action: no user interface, no revocation look-up.
// The signer's certificate comes from the provider data that the verification leaves behind.
#include "platform/win32/signatures_win32.h"

#include <windows.h>
// These two need windows.h first.
#include <softpub.h>
#include <wintrust.h>

#include <string>

#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);

struct WinTrust {
    WinVerifyTrustFn verify;
    ProvDataFn providerData;
    ProvSignerFn signer;
};

template <class Function>
Function Find(HMODULE module, const char* name) {
    FARPROC function = ::GetProcAddress(module, name);
    if (!function) ThrowLastError("GetProcAddress", name);
    // Through the one function type GCC lets any other become, as GetProcAddress intends.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(function));
}

// wintrust.dll from the system folder by its full path (its own imports resolved from there
// too): a launcher run from a downloads folder must not load a wintrust.dll planted beside it.
const WinTrust& LoadWinTrust() {
    static const WinTrust loaded = [] {
        wchar_t folder[MAX_PATH];
        const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) ThrowLastError("GetSystemDirectoryW");
        const std::wstring path = std::wstring(folder, length) + L"\\wintrust.dll";
        HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module) ThrowLastError("LoadLibraryExW", Narrow(path));
        return WinTrust{Find<WinVerifyTrustFn>(module, "WinVerifyTrust"),
                        Find<ProvDataFn>(module, "WTHelperProvDataFromStateData"),
                        Find<ProvSignerFn>(module, "WTHelperGetProvSignerFromChain")};
    }();
    return loaded;
}

// What the log says of a refusal: the cases a tampered or foreign updater brings, by name.
struct TrustMeaning {
    unsigned long code;
    const char* meaning;
};
constexpr TrustMeaning kTrustMeanings[] = {
    {0x800B0100, "not signed (TRUST_E_NOSIGNATURE)"},
    {0x80096010, "altered after signing (TRUST_E_BAD_DIGEST)"},
    {0x800B0109, "signed with a certificate Windows does not trust (CERT_E_UNTRUSTEDROOT)"},
    {0x800B0101, "signed with an expired certificate (CERT_E_EXPIRED)"},
    {0x800B0111, "signed with a distrusted certificate (TRUST_E_EXPLICIT_DISTRUST)"},
};

std::string TrustFailure(LONG status) {
    const auto code = static_cast<unsigned long>(status);
    const char* meaning = nullptr;
    for (const TrustMeaning& known : kTrustMeanings) {
        if (known.code == code) meaning = known.meaning;
    }
    constexpr const char* kHex = "0123456789ABCDEF";
    std::string hex = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(code >> shift) & 0xF];
    return meaning ? std::string(meaning) + ", " + hex : "WinVerifyTrust refused it, " + hex;
}

}  // namespace

SignerVerdict SignaturesWin32::VerifySigner(const std::string& path) {
    const WinTrust& trust = LoadWinTrust();
    const std::wstring file = Widen(path);

    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = file.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const auto noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);

    SignerVerdict verdict;
    const LONG status = trust.verify(noUser, &action, &data);
    if (status != ERROR_SUCCESS) {
        verdict.reason = TrustFailure(status);
    } else {
        CRYPT_PROVIDER_DATA* provider = trust.providerData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
        if (signer && signer->csCertChain > 0 && signer->pasCertChain[0].pCert) {
            const CERT_CONTEXT* certificate = signer->pasCertChain[0].pCert;
            verdict.verified = true;
            verdict.certificate.assign(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                                       certificate->cbCertEncoded);
        } else {
            verdict.reason = "verified, but Windows names no signer's certificate";
        }
    }
    // The state the verification kept (the provider data) is released in every case.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust.verify(noUser, &action, &data);
    return verdict;
}

}  // namespace gor::platform::win32
