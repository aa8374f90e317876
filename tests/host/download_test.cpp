// A package missing beside the setup: download with progress and cancellation, then trust.
#include "download/download_and_verify.h"
#include "install/install_package.h"
#include "tests/host/install_fixture.h"
#include "trust/signature.h"

namespace {
const char16_t kUrl[] = u"https://prenos.quorvex.com/prenos/?verzija=5.1&paket=Lumora.x64.msi";
const char16_t kCache[] = u"C:\\users\\u\\INetCache\\IE\\ab12\\Lumora.x64[1].msi";
const char16_t kSetup[] = u"C:\\Downloads\\setup.exe";

class DownloadTest : public InstallFixture {
protected:
    void World() override {
        sim.downloads[kUrl] = {S_OK, {{0, 0}, {4096, 8192}, {8192, 8192}}, kCache};
        sim.trustFiles[kSetup] = SimTrustFile{0, {}, 7};
        sim.trustFiles[kCache] = SimTrustFile{0, {}, 7};
    }
};

TEST_F(DownloadTest, TrustedDownloadIsInstalledFromTheCache) {
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.CallsNamed("URLDownloadToCacheFileW"),
              Strings{"URLDownloadToCacheFileW(null, "
                      "https://prenos.quorvex.com/prenos/?verzija=5.1&paket=Lumora.x64.msi, "
                      "520, 0, callback)"});
    EXPECT_EQ(Installs(), Strings{"MsiInstallProductW(\"" + Utf8(kCache) + "\", \"\")"});
    EXPECT_TRUE(sim.messageBoxes.empty());
    // Same signer: the last verification shows no positive UI and belongs to the window.
    ASSERT_FALSE(sim.trustCalls.empty());
    EXPECT_EQ(sim.trustCalls.back().uiChoice, static_cast<DWORD>(WTD_UI_NOGOOD));
    EXPECT_EQ(sim.trustCalls.back().window, sim.DialogOf(IDD_PROGRESS));
    // Progress went to the bar; the status line ends on the verifying text.
    auto& bar = sim.Control(sim.DialogOf(IDD_PROGRESS), IDC_PROGRESS_BAR);
    EXPECT_EQ(bar.rangeHigh, 8192);
    EXPECT_EQ(bar.position, 8192);
    EXPECT_EQ(Utf8(sim.Control(sim.DialogOf(IDD_PROGRESS), IDC_PROGRESS_STATUS).text),
              "Verifying digital signature of 'Lumora.x64.msi'...");
    int downloading = sim.IndexOf("SetWindowTextW", 0, "Downloading package");
    ASSERT_GE(downloading, 0);
    EXPECT_NE(sim.calls[downloading].find("Downloading package 'Lumora.x64.msi' ..."),
              std::string::npos);
    EXPECT_LT(downloading, sim.IndexOf("URLDownloadToCacheFileW"));
    EXPECT_TRUE(
        StartsWith(sim.CallsNamed("LoadLibraryExW")[0], "LoadLibraryExW(C:\\Windows\\system32\\"));
}

TEST_F(DownloadTest, VerdictsDecideTheResult) {
    sim.trustFiles[kCache] = SimTrustFile{};  // unsigned
    EXPECT_EQ(Run(), 4);
    EXPECT_EQ(Boxes(), Strings{"Installation failed. '" + Utf8(kCache) + "' is not trusted."});
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    // Another publisher: the full UI decides; here the user accepts.
    sim.trustFiles[kCache] = SimTrustFile{TRUST_E_SUBJECT_NOT_TRUSTED, {{WTD_UI_ALL, 0}}, 9};
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.trustCalls.back().uiChoice, static_cast<DWORD>(WTD_UI_ALL));
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
    sim.modules.erase(u"c:\\windows\\system32\\wintrust.dll");
    EXPECT_EQ(Run(), 120);
    EXPECT_EQ(Boxes(), Strings{"This version of Windows does not support digital signatures."});
}

TEST_F(DownloadTest, OnlyATrustedVerdictLetsTheDownloadedFileRun) {
    EXPECT_EQ(AcceptVerdict(kTrusted, kCache), 0u);
    EXPECT_TRUE(sim.messageBoxes.empty());
    for (int verdict : {static_cast<int>(kNotTrusted), 3, -1, static_cast<int>(0x800B0004)}) {
        sim.messageBoxes.clear();
        EXPECT_EQ(AcceptVerdict(verdict, kCache), 4u) << verdict;
        EXPECT_EQ(Boxes(), Strings{"Installation failed. '" + Utf8(kCache) + "' is not trusted."});
    }
    sim.messageBoxes.clear();
    EXPECT_EQ(AcceptVerdict(kTrustNotAvailable, kCache), 120u);
    EXPECT_EQ(Boxes(), Strings{"This version of Windows does not support digital signatures."});
}

TEST_F(DownloadTest, FailedDownloadsNameTheAddress) {
    sim.downloads[kUrl].result = static_cast<HRESULT>(0x800C0008);
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Boxes(),
              Strings{"Setup was unable to find the MSI package or patch '" + Utf8(kUrl) + "'."});
    // A success with an empty path is a failure too.
    sim.downloads[kUrl] = SimWindows::Download{};
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Boxes().size(), 1u);
    sim.modules.erase(u"c:\\windows\\system32\\urlmon.dll");
    EXPECT_EQ(Run(), 2);
}

TEST_F(DownloadTest, CancelAtEachCheckIsACancellationNeverNotFound) {
    // Before the transfer, during it (the bar has reached 4096 bytes), and before the verification.
    for (const char* moment : {"Downloading package", "0x402, 0x1000", "Verifying digital"}) {
        CancelAt(moment);
        EXPECT_EQ(Run(), 1602) << moment;
        EXPECT_EQ(Boxes(), Strings{"Setup was cancelled."}) << moment;
        EXPECT_TRUE(sim.trustCalls.empty()) << moment;
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    }
}

TEST_F(DownloadTest, ALocalCopyWithoutDownloadAddressNamesTheLocalPath) {
    static const LanguageEntry languages[] = {
        {1060, u"Slovenščina", {nullptr, nullptr, u"Lumora.x64.msi", nullptr}, {}}, {}};
    static const PackageEntry rows[] = {
        {nullptr, u"INSTALL", u"Quorvex Lumora", nullptr, u"5.1", 0, 5, languages}, {}};
    static const SetupConfig config = {u"https://r/", u"A.exe", u"W.exe", 200, rows};
    theApp.config = &config;
    sim.AddPackage(u"C:\\Downloads\\Lumora.x64.msi", u"5.0");
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Boxes(), Strings{"Setup was unable to find the MSI package or patch "
                               "'C:\\Downloads\\Lumora.x64.msi'."});
    EXPECT_EQ(sim.CountCalls("URLDownloadToCacheFileW"), 0u);
}
}  // namespace
