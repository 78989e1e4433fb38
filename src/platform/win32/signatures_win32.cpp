// WinVerifyTrust with the generic verify action through the held file's handle: no user
// interface, no revocation look-up, nothing fetched. The signer's certificate, the steps' own
// verdicts and its chain come from the provider data that the verification leaves behind; the
// chain is judged again with unknown roots allowed and no date judged, and the thumbprints
// are crypt32's.
#include "platform/win32/signatures_win32.h"

#include <windows.h>
// These two need windows.h first.
#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "platform/hex_text.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using HashCertificateFn = BOOL(WINAPI*)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);
using ChainPolicyFn = BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                    PCERT_CHAIN_POLICY_STATUS);

struct Trust {
    WinVerifyTrustFn verify;
    ProvDataFn providerData;
    ProvSignerFn signer;
    HashCertificateFn hashCertificate;
    ChainPolicyFn chainPolicy;
};

// wintrust.dll and crypt32.dll from the system folder, when the first updater is
// checked.
const Trust& LoadTrust() {
    static const Trust loaded = [] {
        const Module wintrust = SystemLibrary(L"wintrust.dll");
        const Module crypt32 = SystemLibrary(L"crypt32.dll");
        return Trust{Require<WinVerifyTrustFn>(wintrust, "WinVerifyTrust"),
                     Require<ProvDataFn>(wintrust, "WTHelperProvDataFromStateData"),
                     Require<ProvSignerFn>(wintrust, "WTHelperGetProvSignerFromChain"),
                     Require<HashCertificateFn>(crypt32, "CryptHashCertificate2"),
                     Require<ChainPolicyFn>(crypt32, "CertVerifyCertificateChainPolicy")};
    }();
    return loaded;
}

std::string TrustText(std::uint32_t code) {
    const std::string hex = "0x" + HexDigits(code, 8);
    const char* own = OwnText(code);
    return own ? std::string(own) + ", " + hex : "WinVerifyTrust refused it, " + hex;
}

constexpr std::uint32_t Code(HRESULT result) {
    return static_cast<std::uint32_t>(result);
}

// The codes the portable decision names, as Windows' headers spell them.
static_assert(kUntrustedRoot == Code(CERT_E_UNTRUSTEDROOT) && kChaining == Code(CERT_E_CHAINING));
static_assert(kExpired == Code(CERT_E_EXPIRED) &&
              kPeriodNesting == Code(CERT_E_VALIDITYPERIODNESTING) &&
              kTimeStamp == Code(TRUST_E_TIME_STAMP));
static_assert(kSubjectNotTrusted == Code(TRUST_E_SUBJECT_NOT_TRUSTED) &&
              kExplicitDistrust == Code(TRUST_E_EXPLICIT_DISTRUST) &&
              kRevoked == Code(CERT_E_REVOKED));
static_assert(kNoSignature == Code(TRUST_E_NOSIGNATURE) &&
              kSubjectFormUnknown == Code(TRUST_E_SUBJECT_FORM_UNKNOWN) &&
              kProviderUnknown == Code(TRUST_E_PROVIDER_UNKNOWN));

// A signature whose bytes are wrong: altered content, a signature that does not verify or is
// no well-formed message.
constexpr HRESULT kDamaged[] = {
    TRUST_E_BAD_DIGEST,
    static_cast<HRESULT>(0x80096011),  // TRUST_E_MALFORMED_SIGNATURE, not in mingw-w64's headers
    NTE_BAD_SIGNATURE,
    CRYPT_E_HASH_VALUE,
    CRYPT_E_BAD_MSG,
    CRYPT_E_UNEXPECTED_MSG_TYPE,
};

// The other findings the decision is given: signed in a way Windows does not trust (the
// certificate, its chain, its dates, its use) or that the machine's own policy refuses.
// Unsigned (TRUST_E_NOSIGNATURE) only when the last error agrees or names damage, see
// IsFinding. Any other outcome (a provider that is unknown or failed, a file error, no memory)
// means the check could not run: no verdict on the file.
constexpr HRESULT kVerdicts[] = {
    CRYPT_E_NO_SIGNER,
    TRUST_E_NO_SIGNER_CERT,
    TRUST_E_CERT_SIGNATURE,
    TRUST_E_COUNTER_SIGNER,
    TRUST_E_TIME_STAMP,
    TRUST_E_BASIC_CONSTRAINTS,
    TRUST_E_SUBJECT_NOT_TRUSTED,
    TRUST_E_EXPLICIT_DISTRUST,
    CERT_E_EXPIRED,
    CERT_E_VALIDITYPERIODNESTING,
    CERT_E_ROLE,
    CERT_E_PATHLENCONST,
    CERT_E_CRITICAL,
    CERT_E_PURPOSE,
    CERT_E_ISSUERCHAINING,
    CERT_E_MALFORMED,
    CERT_E_UNTRUSTEDROOT,
    CERT_E_CHAINING,
    CERT_E_REVOKED,
    CERT_E_UNTRUSTEDTESTROOT,
    CERT_E_CN_NO_MATCH,
    CERT_E_WRONG_USAGE,
    CERT_E_UNTRUSTEDCA,
    CERT_E_INVALID_POLICY,
    CERT_E_INVALID_NAME,
};

// The ASN.1 decoder's findings on the bytes it was given (CRYPT_E_ASN1_*): a signature that
// cannot be decoded is a damaged one. Its own troubles (internal, memory, bad arguments, not
// implemented) are not.
bool UndecodableSignature(std::uint32_t status) {
    for (const HRESULT own :
         {CRYPT_E_ASN1_INTERNAL, CRYPT_E_ASN1_MEMORY, CRYPT_E_ASN1_BADARGS, CRYPT_E_ASN1_NYI}) {
        if (Code(own) == status) return false;
    }
    return (status >= Code(CRYPT_E_ASN1_ERROR) && status <= Code(CRYPT_E_ASN1_PDU_TYPE)) ||
           status == Code(CRYPT_E_ASN1_EXTENDED) || status == Code(CRYPT_E_ASN1_NOEOD);
}

bool DamagedSignature(std::uint32_t code) {
    return UndecodableSignature(code) ||
           std::any_of(std::begin(kDamaged), std::end(kDamaged),
                       [code](HRESULT damage) { return Code(damage) == code; });
}

// A check that could not run is thrown, the file kept, with what made it fail: for "no
// signature found" the last error. A file error (a Win32 code, plain or as HRESULT_FROM_WIN32,
// e.g. a file another program holds) is thrown as its Win32 code, so the busy-file rule can
// judge it, anything else as it came.
void ThrowUnlessFinding(std::uint32_t status, std::uint32_t lastError, const std::string& path) {
    if (IsFinding(status, lastError)) return;
    const std::uint32_t cause =
        status == Code(TRUST_E_NOSIGNATURE) && lastError != 0 ? lastError : status;
    if ((cause & 0xFFFF0000u) == 0x80070000u || cause <= 0xFFFF)
        throw Win32Error(cause & 0xFFFF, "WinVerifyTrust", path);
    throw Win32Error(cause, "WinVerifyTrust", path);
}

std::string Thumbprint(const Trust& trust, const CERT_CONTEXT& certificate,
                       const wchar_t* algorithm) {
    BYTE digest[32];
    DWORD size = sizeof digest;
    if (!trust.hashCertificate(algorithm, 0, nullptr, certificate.pbCertEncoded,
                               certificate.cbCertEncoded, digest, &size))
        ThrowLastError("CryptHashCertificate2");
    return HexBytes(std::string_view(reinterpret_cast<const char*>(digest), size));
}

// A time stamp (a counter signature) that does not verify says nothing of the file's digest
// or of its signer's signature, so it leaves the step clean for that purpose.
bool StepClean(const CRYPT_PROVIDER_DATA& provider, DWORD step) {
    if (provider.padwTrustStepErrors == nullptr || step >= provider.cdwTrustStepErrors)
        return false;
    const DWORD error = provider.padwTrustStepErrors[step];
    return error == ERROR_SUCCESS || error == Code(TRUST_E_TIME_STAMP);
}

// The facts of signer 0: its certificate's thumbprints, whether the file's digest and the
// signer's signature held, and its chain under the Authenticode policy with an unknown root
// allowed and no date judged (the chain wintrust built): a wrong clock or a lapsed certificate
// must not decide for the pinned signer.
void ReadSigner(const Trust& trust, HANDLE state, SignatureFacts& facts) {
    CRYPT_PROVIDER_DATA* provider = trust.providerData(state);
    if (!provider) return;
    facts.contentVerified = StepClean(*provider, TRUSTERROR_STEP_FINAL_OBJPROV) &&
                            StepClean(*provider, TRUSTERROR_STEP_FINAL_SIGPROV);
    CRYPT_PROVIDER_SGNR* signer = trust.signer(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain[0].pCert) return;
    const CERT_CONTEXT& certificate = *signer->pasCertChain[0].pCert;
    facts.sha1 = Thumbprint(trust, certificate, L"SHA1");
    facts.sha256 = Thumbprint(trust, certificate, L"SHA256");
    if (!signer->pChainContext) {
        facts.chainPolicyText = "no chain";
        return;
    }
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    para.dwFlags =
        CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG | CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!trust.chainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &para, &status)) {
        facts.chainPolicyText = "the chain policy could not be checked";
        return;
    }
    facts.chainPolicy = status.dwError;
    if (status.dwError != 0) facts.chainPolicyText = TrustText(status.dwError);
}

}  // namespace

bool IsFinding(std::uint32_t status, std::uint32_t lastError) {
    if (status == 0 || DamagedSignature(status)) return true;
    // Unsigned, damaged, or the file could not be read: Windows tells them apart only by the
    // last error.
    if (status == Code(TRUST_E_NOSIGNATURE))
        return lastError == Code(TRUST_E_NOSIGNATURE) ||
               lastError == Code(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
               lastError == Code(TRUST_E_PROVIDER_UNKNOWN) || DamagedSignature(lastError);
    for (const HRESULT verdict : kVerdicts) {
        if (Code(verdict) == status) return true;
    }
    return false;
}

SignatureFacts SignaturesWin32::VerifySigner(HeldFile& file, const std::string& path) {
    const Trust& trust = LoadTrust();
    const std::wstring widePath = Widen(path);

    // The held handle, from its start: the verification reads the very file that will start.
    const HANDLE handle = HandleOf(file);
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN))
        ThrowLastError("SetFilePointerEx", path);
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = widePath.c_str();
    fileInfo.hFile = handle;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Chain building never goes to the network for a URL a certificate in the file names.
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const auto noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);

    SignatureFacts facts;
    facts.status = static_cast<std::uint32_t>(trust.verify(noUser, &action, &data));
    const auto lastError = static_cast<std::uint32_t>(::GetLastError());
    facts.lastError = lastError;
    if (facts.status != 0) facts.statusText = TrustText(facts.status);
    try {
        ThrowUnlessFinding(facts.status, lastError, path);
        ReadSigner(trust, data.hWVTStateData, facts);
    } catch (...) {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        trust.verify(noUser, &action, &data);
        throw;
    }
    // The state the verification kept (the provider data) is released in every case.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    trust.verify(noUser, &action, &data);
    return facts;
}

}  // namespace gor::platform::win32
