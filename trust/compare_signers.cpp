#include "platform/system_library.h"
#include "trust/signature.h"

namespace {
typedef BOOL(WINAPI* CertCompareFn)(DWORD, PCERT_INFO, PCERT_INFO);
typedef BOOL(WINAPI* CertFreeFn)(PCCERT_CONTEXT);
}  // namespace

TrustVerdict CompareSigners(const char16_t* referencePath, const char16_t* path, HWND window) {
    // crypt32 stays loaded until the end, so that the certificate references stay usable
    // until they are released.
    ModuleRef crypt32(LoadSystemLibrary(u"crypt32.dll"));
    if (!crypt32) return kTrustNotAvailable;
    auto compare = crypt32.Find<CertCompareFn>("CertCompareCertificate");
    auto release = crypt32.Find<CertFreeFn>("CertFreeCertificateContext");
    if (!compare || !release) return kTrustNotAvailable;

    TrustVerdict result = kTrustNotAvailable;
    LONG referenceSigned = 0, fileSigned = 0;
    PCCERT_CONTEXT referenceCert = nullptr, fileCert = nullptr;

    // Only whether the reference carries a signature and who signed it matter here, not
    // whether the platform trusts it.
    if (VerifyFileSignature(referencePath, window, WTD_UI_NONE, &referenceSigned, &referenceCert) !=
        kTrustNotAvailable) {
        if (!referenceSigned) {
            result = VerifyFileSignature(path, window, WTD_UI_ALL, nullptr, nullptr);
        } else if (VerifyFileSignature(path, window, WTD_UI_NONE, &fileSigned, &fileCert) !=
                   kTrustNotAvailable) {
            bool sameSigner = fileSigned == 1 && referenceCert && fileCert &&
                              compare(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                      referenceCert->pCertInfo, fileCert->pCertInfo);
            result = VerifyFileSignature(path, window, sameSigner ? WTD_UI_NOGOOD : WTD_UI_ALL,
                                         nullptr, nullptr);
        }
    }

    if (referenceCert) release(referenceCert);
    if (fileCert) release(fileCert);
    return result;
}

VerifyStatus VerifyModeStatus(int verdict) {
    if (verdict == kTrusted) return kVerifyTrusted;
    if (verdict == kTrustNotAvailable) return kVerifyNotAvailable;
    return kVerifyNotTrusted;
}
