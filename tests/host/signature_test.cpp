#include "trust/signature.h"

#include "tests/host/install_fixture.h"

namespace {
const char16_t kSetup[] = u"C:\\Downloads\\setup.exe";
const char16_t kFile[] = u"C:\\Cache\\Lumora.x64.msi";
HWND const kWindow = reinterpret_cast<HWND>(0x4242);
HWND const kNoWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);

class SignatureTest : public SimTest {
protected:
    void SetUp() override {
        sim.AddTrustLibraries();
        Sign(kSetup, 7);  // the setup's signer, unless a case says otherwise
    }

    void Sign(const char16_t* path, int signer, LONG status = 0) {
        sim.trustFiles[path].signer = signer;
        sim.trustFiles[path].status = status;
    }
    // The verifications made (closing calls left out), as "path ui window".
    Strings Verifications() const {
        Strings out;
        for (const auto& c : sim.trustCalls)
            if (c.stateAction != WTD_STATEACTION_CLOSE)
                out.push_back(Utf8(c.path) + " ui=" + std::to_string(c.uiChoice) +
                              (c.window == kNoWindow ? " none"
                               : c.window == kWindow ? " caller"
                                                     : " other"));
        return out;
    }
};

TEST_F(SignatureTest, SameSignerIsVerifiedLastWithoutPositiveUi) {
    Sign(kFile, 7);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrusted);
    EXPECT_EQ(Verifications(), (Strings{
                                   "C:\\Downloads\\setup.exe ui=2 none",
                                   "C:\\Cache\\Lumora.x64.msi ui=2 none",
                                   "C:\\Cache\\Lumora.x64.msi ui=4 caller",
                               }));
    EXPECT_EQ(sim.CallsNamed("CertCompareCertificate"),
              Strings{"CertCompareCertificate(0x10001, 7, 7)"});
    // Both signer references are released, the reference's first.
    EXPECT_EQ(sim.CallsNamed("CertFreeCertificateContext"),
              (Strings{"CertFreeCertificateContext(7)", "CertFreeCertificateContext(7)"}));
}

TEST_F(SignatureTest, EveryCallCarriesTheTwelveFieldStructuresAndTheGenericAction) {
    Sign(kFile, 7);
    CompareSigners(kSetup, kFile, kWindow);
    ASSERT_FALSE(sim.trustCalls.empty());
    for (const auto& c : sim.trustCalls) {
        EXPECT_EQ(c.cbStruct, sizeof(WintrustDataV1));
        EXPECT_EQ(c.fileCbStruct, sizeof(WINTRUST_FILE_INFO));
        EXPECT_TRUE(c.actionIsGenericVerifyV2);
        if (c.stateAction == WTD_STATEACTION_CLOSE) {
            EXPECT_EQ(c.uiChoice, static_cast<DWORD>(WTD_UI_NONE));
            EXPECT_EQ(c.window, kNoWindow);
        }
    }
    // The two quiet verifications keep their state for the signer and close it again.
    EXPECT_EQ(sim.trustCalls.size(), 5u);
    for (const auto& load : sim.CallsNamed("LoadLibraryExW"))
        EXPECT_TRUE(StartsWith(load, "LoadLibraryExW(C:\\Windows\\system32\\"));
}

TEST_F(SignatureTest, OtherPublisherGetsTheFullUiAndItsVerdict) {
    Sign(kFile, 9, TRUST_E_SUBJECT_NOT_TRUSTED);
    sim.trustFiles[kFile].statusByUiChoice[WTD_UI_ALL] = 0;  // the user accepts in the UI
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrusted);
    EXPECT_EQ(Verifications().back(), "C:\\Cache\\Lumora.x64.msi ui=1 caller");
    sim.trustCalls.clear();
    sim.trustFiles[kFile].statusByUiChoice[WTD_UI_ALL] = TRUST_E_SUBJECT_NOT_TRUSTED;
    EXPECT_EQ(CompareSigners(kSetup, kFile, nullptr), kNotTrusted);
    EXPECT_EQ(sim.trustCalls.back().window, nullptr);  // full UI keeps the caller's (null) window
}

TEST_F(SignatureTest, UnsignedSetupVerifiesTheFileDirectlyWithFullUi) {
    sim.trustFiles.erase(kSetup);
    Sign(kFile, 7);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrusted);
    EXPECT_EQ(Verifications(), (Strings{
                                   "C:\\Downloads\\setup.exe ui=2 none",
                                   "C:\\Cache\\Lumora.x64.msi ui=1 caller",
                               }));
    EXPECT_EQ(sim.CountCalls("CertCompareCertificate"), 0u);
}

TEST_F(SignatureTest, UntrustedSetupStillSuppliesItsSigner) {
    Sign(kSetup, 7, TRUST_E_SUBJECT_NOT_TRUSTED);
    Sign(kFile, 7);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrusted);
    EXPECT_EQ(Verifications().back(), "C:\\Cache\\Lumora.x64.msi ui=4 caller");
}

TEST_F(SignatureTest, UnsignedOrUntrustedFilesAreNotTrusted) {
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kNotTrusted);  // no signature at all
    Sign(kFile, 7, static_cast<LONG>(0x800B0109));                   // untrusted root
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kNotTrusted);
}

TEST_F(SignatureTest, UnknownProviderMeansVerificationNotAvailable) {
    Sign(kFile, 7, TRUST_E_PROVIDER_UNKNOWN);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrustNotAvailable);
    EXPECT_EQ(Verifications().size(), 2u);  // no last verification
    sim.trustCalls.clear();
    Sign(kSetup, 7, TRUST_E_PROVIDER_UNKNOWN);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrustNotAvailable);
    EXPECT_EQ(Verifications().size(), 1u);  // the file is not verified at all
}

TEST_F(SignatureTest, MissingLibrariesOrFunctionsMeanNotAvailable) {
    Sign(kFile, 7);
    sim.AddSystemModule(u"crypt32.dll",
                        {"CertDuplicateCertificateContext", "CertFreeCertificateContext"});
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrustNotAvailable);
    EXPECT_TRUE(sim.trustCalls.empty());
    sim.AddTrustLibraries();
    sim.AddSystemModule(u"wintrust.dll", {"WinVerifyTrust", "WTHelperProvDataFromStateData",
                                          "WTHelperGetProvSignerFromChain"});
    EXPECT_EQ(VerifyFileSignature(kFile, kWindow, WTD_UI_NONE, nullptr, nullptr),
              kTrustNotAvailable);
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrustNotAvailable);
    EXPECT_TRUE(sim.trustCalls.empty());
}

TEST_F(SignatureTest, WithoutCertificateDuplicationSignersNeverMatch) {
    Sign(kFile, 7);
    sim.AddSystemModule(u"crypt32.dll", {"CertCompareCertificate", "CertFreeCertificateContext"});
    EXPECT_EQ(CompareSigners(kSetup, kFile, kWindow), kTrusted);
    EXPECT_EQ(Verifications().back(), "C:\\Cache\\Lumora.x64.msi ui=1 caller");
}

TEST_F(SignatureTest, ClosingCallsFollowTheStateRules) {
    // Without a certificate request only the two special statuses are closed.
    const struct {
        int signer;
        LONG status, verdict, isSigned;
        size_t calls;  // the verification, then the closing call if any
    } cases[] = {{7, TRUST_E_SUBJECT_NOT_TRUSTED, kNotTrusted, 1, 1},
                 {0, TRUST_E_NOSIGNATURE, kNotTrusted, 0, 2},
                 {7, TRUST_E_PROVIDER_UNKNOWN, kTrustNotAvailable, 0, 2}};
    for (const auto& c : cases) {
        Clear();
        Sign(kFile, c.signer, c.status);
        LONG isSigned = -1;
        EXPECT_EQ(VerifyFileSignature(kFile, kWindow, WTD_UI_ALL, &isSigned, nullptr), c.verdict);
        EXPECT_EQ(isSigned, c.isSigned) << c.status;
        ASSERT_EQ(sim.trustCalls.size(), c.calls) << c.status;
        EXPECT_EQ(sim.trustCalls.back().stateAction == WTD_STATEACTION_CLOSE, c.calls == 2);
    }
}

TEST_F(SignatureTest, SignerIsFetchedEvenWhenNotTrusted) {
    Sign(kFile, 9, static_cast<LONG>(0x800B0109));
    PCCERT_CONTEXT cert = nullptr;
    LONG isSigned = 0;
    EXPECT_EQ(VerifyFileSignature(kFile, kWindow, WTD_UI_NONE, &isSigned, &cert), kNotTrusted);
    ASSERT_EQ(cert, sim.Certificate(9));
    EXPECT_EQ(isSigned, 1);
    EXPECT_EQ(sim.certReferences(), 1);
    sim.CertFreeCertificateContext(cert);
}

TEST_F(SignatureTest, VerifyModeStatusMapsTheVerdict) {
    EXPECT_EQ(VerifyModeStatus(kTrusted), 0u);
    EXPECT_EQ(VerifyModeStatus(kTrustNotAvailable), 0x800B0001u);
    EXPECT_EQ(VerifyModeStatus(kNotTrusted), 0x800B0004u);
    EXPECT_EQ(VerifyModeStatus(5), 0x800B0004u);
}
}  // namespace
