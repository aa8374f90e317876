// Signature verification through the platform's code-signing trust provider, with the
// running setup executable's own signer as the reference.
#pragma once

#include "seam/win32_api.h"
#include "vocabulary/result_codes.h"

// Verdicts of VerifyFileSignature and CompareSigners.
enum TrustVerdict : int {
    kTrustNotAvailable = 0,  // a library or function is missing, or the provider is unknown
    kTrusted = 1,            // the last verification returned 0
    kNotTrusted = 2,         // any other status, an unsigned file included
};

// The WINTRUST_DATA in its twelve-field form, without the signature-settings field that
// later platform versions append: its size tells the provider which form it gets.
struct WintrustDataV1 {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    WINTRUST_FILE_INFO* pFile;
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
};

// WINTRUST_ACTION_GENERIC_VERIFY_V2.
extern const GUID kGenericVerifyV2;

// One verification of `path`. `uiChoice` is WTD_UI_ALL, WTD_UI_NONE or WTD_UI_NOGOOD.
// `isSigned` (optional) tells whether the file carries a signature; `signer` (optional)
// receives a reference to the first signer's certificate, which the caller releases with
// CertFreeCertificateContext.
TrustVerdict VerifyFileSignature(const char16_t* path, HWND window, DWORD uiChoice, LONG* isSigned,
                                 PCCERT_CONTEXT* signer);

// Verifies `path` against the signer of `referencePath` (the setup executable): a file
// signed with the same certificate is verified without positive confirmation, any other
// file with the platform's full trust user interface.
TrustVerdict CompareSigners(const char16_t* referencePath, const char16_t* path, HWND window);

// The process exit status of the verify mode for a CompareSigners verdict (any value other
// than kTrusted and kTrustNotAvailable counts as not trusted).
VerifyStatus VerifyModeStatus(int verdict);
