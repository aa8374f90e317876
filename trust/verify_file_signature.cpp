#include <string.h>

#include "platform/system_library.h"
#include "trust/signature.h"

const GUID kGenericVerifyV2 = {
    0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

// The twelve-field form is 48 bytes in a 32-bit process.
static_assert(sizeof(void*) != 4 || sizeof(WintrustDataV1) == 48, "WINTRUST_DATA form");
static_assert(sizeof(void*) != 4 || sizeof(WINTRUST_FILE_INFO) == 16, "WINTRUST_FILE_INFO");

namespace {

typedef LONG(WINAPI* WinVerifyTrustFn)(HWND, GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFromStateDataFn)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProvSignerFromChainFn)(CRYPT_PROVIDER_DATA*, DWORD, BOOL,
                                                            DWORD);
typedef CRYPT_PROVIDER_CERT*(WINAPI* ProvCertFromChainFn)(CRYPT_PROVIDER_SGNR*, DWORD);
typedef PCCERT_CONTEXT(WINAPI* CertDuplicateFn)(PCCERT_CONTEXT);

struct TrustProvider {
    WinVerifyTrustFn verify;
    ProvDataFromStateDataFn provData;
    ProvSignerFromChainFn signer;
    ProvCertFromChainFn cert;
};

void CloseState(const TrustProvider& trust, WintrustDataV1& data) {
    data.dwUIChoice = WTD_UI_NONE;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = kGenericVerifyV2;
    trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

// The first certificate of the first signer, as a reference of the caller's own.
PCCERT_CONTEXT DuplicateSignerCertificate(const TrustProvider& trust, HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = trust.provData(state);
    if (!provider) return nullptr;
    CRYPT_PROVIDER_SGNR* signer = trust.signer(provider, 0, FALSE, 0);
    if (!signer) return nullptr;
    CRYPT_PROVIDER_CERT* cert = trust.cert(signer, 0);
    if (!cert) return nullptr;

    ModuleRef crypt32(LoadSystemLibrary(u"crypt32.dll"));
    if (!crypt32) return nullptr;
    auto duplicate = crypt32.Find<CertDuplicateFn>("CertDuplicateCertificateContext");
    return duplicate ? duplicate(cert->pCert) : nullptr;
}

}  // namespace

TrustVerdict VerifyFileSignature(const char16_t* path, HWND window, DWORD uiChoice, LONG* isSigned,
                                 PCCERT_CONTEXT* signer) {
    if (isSigned) *isSigned = 0;
    if (signer) *signer = nullptr;

    ModuleRef wintrust(LoadSystemLibrary(u"wintrust.dll"));
    if (!wintrust) return kTrustNotAvailable;
    TrustProvider trust = {
        wintrust.Find<WinVerifyTrustFn>("WinVerifyTrust"),
        wintrust.Find<ProvDataFromStateDataFn>("WTHelperProvDataFromStateData"),
        wintrust.Find<ProvSignerFromChainFn>("WTHelperGetProvSignerFromChain"),
        wintrust.Find<ProvCertFromChainFn>("WTHelperGetProvCertFromChain"),
    };
    if (!trust.verify || !trust.provData || !trust.signer || !trust.cert) return kTrustNotAvailable;

    WINTRUST_FILE_INFO file;
    memset(&file, 0, sizeof(file));
    file.cbStruct = sizeof(WINTRUST_FILE_INFO);
    file.pcwszFilePath = reinterpret_cast<const WCHAR*>(path);

    WintrustDataV1 data;
    memset(&data, 0, sizeof(data));
    data.cbStruct = sizeof(WintrustDataV1);
    data.dwUIChoice = uiChoice;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = signer ? WTD_STATEACTION_VERIFY : WTD_STATEACTION_IGNORE;
    data.dwUIContext = WTD_UICONTEXT_EXECUTE;

    HWND owner = uiChoice == WTD_UI_NONE ? static_cast<HWND>(INVALID_HANDLE_VALUE) : window;
    GUID action = kGenericVerifyV2;
    LONG status = trust.verify(owner, &action, &data);

    if (status == TRUST_E_PROVIDER_UNKNOWN) {
        CloseState(trust, data);
        return kTrustNotAvailable;
    }
    if (isSigned) *isSigned = status != TRUST_E_NOSIGNATURE ? 1 : 0;
    if (status == TRUST_E_NOSIGNATURE) {
        CloseState(trust, data);
        return kNotTrusted;
    }
    if (!signer) return status == 0 ? kTrusted : kNotTrusted;

    // The signer is fetched whatever the status, as long as the file carries a signature.
    *signer = DuplicateSignerCertificate(trust, data.hWVTStateData);
    CloseState(trust, data);
    return status == 0 ? kTrusted : kNotTrusted;
}
