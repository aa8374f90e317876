// The engine upgrade: the redistributable beside the setup or downloaded and verified by a
// child copy of the setup, its version rule, its command line and the meaning of its exit.
#include "engine/upgrade_installer.h"
#include "state/installer_binding.h"
#include "tests/host/install_fixture.h"
#include "trust/verify_child.h"

namespace {
const char16_t kLocal[] = u"C:\\Down loads\\InstMSIW.exe";
const char16_t kUrl[] = u"https://msi.quorvex.com/MSI/2.0/InstMSIW.exe";
const char16_t kCache[] = u"C:\\Cache Dir\\InstMSIW[1].exe";
const char kNotTrustedText[] =
    "Installation failed. 'C:\\Cache Dir\\InstMSIW[1].exe' is not trusted.";
const char kRestart[] =
    "You must restart your system for the configuration changes to take effect. Click Yes to "
    "restart now or No if you plan to manually restart later.";

class UpgradeTest : public InstallFixture {
protected:
    void World() override {
        sim.modulePath = u"C:\\Down loads\\setup.exe";
        sim.nativeMachine = IMAGE_FILE_MACHINE_I386;
        sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00010014;  // 1.20: too old
        sim.AddPackage(u"C:\\Down loads\\Lumora.Win32.msi", u"5.1");
        sim.messageBoxAnswers = {IDYES};
        sim.downloads[kUrl].cachePath = kCache;
        Children(0, 0);  // what the children exit with when nothing is scripted
    }
    void Redistributable(const char16_t* path, DWORD versionMS) {
        sim.files[path] = SimFile{true, true, versionMS, false};
    }
    // Exit codes of the children: the verify child and the redistributable.
    void Children(DWORD verifyStatus, DWORD redistExit) {
        sim.onProcess = [=](SimWindows&, const std::u16string& line) {
            return line.find(u" /v ") != std::u16string::npos ? verifyStatus : redistExit;
        };
    }
};

TEST_F(UpgradeTest, LocalRedistributableRunsWithoutVerification) {
    Redistributable(kLocal, 0x00020000);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.processes, std::vector<std::u16string>{
                                 u"\"C:\\Down loads\\InstMSIW.exe\" /c:\"msiinst /delayreboot\""});
    EXPECT_EQ(sim.CountCalls("URLDownloadToCacheFileW"), 0u);
    auto started = sim.CallsNamed("CreateProcessW");
    EXPECT_NE(started[0].find(", null, null, 0, 0x4000000, null, null, cb="), std::string::npos);
    EXPECT_NE(started[0].find(" flags=1 show=5)"), std::string::npos);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);  // then the packages
}

TEST_F(UpgradeTest, DownloadedRedistributableIsVerifiedByAChildSetup) {
    Redistributable(kCache, 0x00020000);
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(sim.processes.size(), 2u);
    EXPECT_EQ(Utf8(sim.processes[0]),
              "\"C:\\Down loads\\setup.exe\" /v \"C:\\Cache Dir\\InstMSIW[1].exe\"");
    EXPECT_EQ(Utf8(sim.processes[1]),
              "\"C:\\Cache Dir\\InstMSIW[1].exe\" /c:\"msiinst /delayreboot\"");
    HWND dialog = sim.DialogOf(IDD_PROGRESS);
    EXPECT_EQ(Utf8(sim.Control(dialog, IDC_PROGRESS_TITLE).text),
              "Please wait while 'Quorvex Lumora' is downloaded...");
    // While the redistributable came, the title was still empty.
    int downloading = sim.IndexOf("URLDownloadToCacheFileW");
    EXPECT_GT(sim.IndexOf("SetWindowTextW", downloading, "Please wait"), downloading);
}

// URL monikers keep per-thread state on the worker, which goes on showing boxes and pumping
// messages after a download: urlmon is loaded once and freed only after the worker has ended.
TEST_F(UpgradeTest, UrlmonIsLoadedOnceAndFreedAfterTheWorkerEnded) {
    Redistributable(kCache, 0x00020000);
    const char16_t kPackageCache[] = u"C:\\Cache Dir\\Lumora.Win32[1].msi";
    sim.packages.clear();
    sim.downloads[u"https://prenos.quorvex.com/prenos/?verzija=5.1&paket=Lumora.Win32.msi"]
        .cachePath = kPackageCache;
    sim.AddPackage(kPackageCache, u"5.1");
    sim.trustFiles[sim.modulePath] = SimTrustFile{0, {}, 7};
    sim.trustFiles[kPackageCache] = SimTrustFile{0, {}, 7};
    HMODULE urlmon = nullptr;
    bool freedEarly = false;
    sim.onCall = [&](SimWindows&, const std::string& call) {
        if (call.rfind("PostThreadMessageW(", 0) == 0) urlmon = theApp.urlmon;
        if (theApp.urlmon && !urlmon && call == "FreeLibrary(" + Ptr(theApp.urlmon) + ")")
            freedEarly = true;
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.CountCalls("URLDownloadToCacheFileW"), 2u);
    ASSERT_NE(urlmon, nullptr);
    EXPECT_FALSE(freedEarly);
    EXPECT_EQ(sim.CountCalls("LoadLibraryExW", "urlmon.dll"), 1u);
    const std::string freed = "(" + Ptr(urlmon) + ")";
    int quit = sim.IndexOf("PostThreadMessageW");
    int free = sim.IndexOf("FreeLibrary", 0, freed);
    EXPECT_EQ(sim.IndexOf("FreeLibrary", free + 1, freed), -1);  // freed once
    EXPECT_GT(free, quit);
    EXPECT_GT(free, sim.IndexOf("MsgWaitForMultipleObjects", quit));
    EXPECT_EQ(theApp.urlmon, nullptr);
}

TEST_F(UpgradeTest, VerifyChildVerdicts) {
    Redistributable(kCache, 0x00020000);
    const struct {
        DWORD verdict;
        int result;
        const char* message;
    } cases[] = {
        {0x800B0004, 4, kNotTrustedText},
        {160, 4, kNotTrustedText},
        {0x800B0001, 120, "This version of Windows does not support digital signatures."},
    };
    for (const auto& c : cases) {
        sim.messageBoxAnswers = {IDYES};
        Children(c.verdict, 0);
        EXPECT_EQ(Run(), c.result);
        ASSERT_EQ(Boxes().size(), 2u);
        EXPECT_EQ(Boxes()[1], c.message);
        EXPECT_EQ(sim.processes.size(), 1u);  // never run
    }
}

TEST_F(UpgradeTest, AChildWhoseStatusCannotBeReadIsNotTrusted) {
    Redistributable(kCache, 0x00020000);
    sim.exitCodeUnreadable = true;
    EXPECT_EQ(VerifyInChildProcess(u"C:\\setup.exe", kCache), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(Run(), 4);
    EXPECT_EQ(Boxes().back(), kNotTrustedText);
}

TEST_F(UpgradeTest, ChildStartAndWaitFailuresAreErrors) {
    sim.createProcessFails = true;
    sim.createProcessError = 5;
    EXPECT_EQ(VerifyInChildProcess(u"C:\\setup.exe", u"C:\\f.exe"), 5u);
    EXPECT_EQ(RunInstMsi(u"C:\\f.exe"), 5u);
    sim.createProcessFails = false;
    sim.waitFails = true;
    EXPECT_EQ(VerifyInChildProcess(u"C:\\setup.exe", u"C:\\f.exe"), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_EQ(sim.openHandles(), 0);  // the child's handles are closed on every way out
}

// A wake announces only what arrived since the last look at the queue: every waiting message
// is served before the next wait, and the wait ends with the child.
TEST_F(UpgradeTest, WaitingServesEveryWaitingMessageAtEachWake) {
    sim.pendingMessages = 3;
    EXPECT_EQ(VerifyInChildProcess(u"C:\\setup.exe", u"C:\\f.exe"), 0u);
    EXPECT_EQ(sim.pendingMessages, 0);
    const std::string wait = "MsgWaitForMultipleObjects(1, 0, 0xffffffff, 0x4ff)";
    const std::string peek = "PeekMessageW(0x1)";
    Strings waiting;
    for (const auto& call : sim.calls)
        if (call == wait || call.rfind("PeekMessageW(", 0) == 0) waiting.push_back(call);
    EXPECT_EQ(waiting, (Strings{wait, peek, peek, peek, peek, wait}));
}

TEST_F(UpgradeTest, VersionRangeOfTheRedistributable) {
    const struct {
        DWORD versionMS;
        bool accepted;
    } cases[] = {{0x000903E7 /* 9.999 = 1899 */, true},  {0x0009000A /* 9.10 = 910 */, true},
                 {0x00090063 /* 9.99 = 999 */, true},    {0x000003E7 /* 0.999 = 999 */, true},
                 {0x000A0000 /* 10.0 = 1000 */, false},  {0x000003E8 /* 0.1000 = 1000 */, false},
                 {0x000B0063 /* 11.99 = 1199 */, false}, {0x000A00C7 /* 10.199 = 1199 */, false},
                 {0x000C0000 /* 12.0 = 1200 */, true},   {0x000A00C8 /* 10.200 = 1200 */, true}};
    for (const auto& c : cases) {
        sim.messageBoxAnswers = {IDYES};
        Redistributable(kLocal, c.versionMS);
        EXPECT_EQ(Run(), c.accepted ? 0 : 87) << std::hex << c.versionMS;
        EXPECT_EQ(sim.processes.size(), c.accepted ? 1u : 0u);
        if (!c.accepted) {
            EXPECT_EQ(Boxes().back(),
                      "The provided InstMSI upgrade executable 'C:\\Down loads\\InstMSIW.exe' is "
                      "invalid.");
        }
    }
    sim.files[kLocal].hasVersionResource = false;
    sim.messageBoxAnswers = {IDYES};
    EXPECT_EQ(Run(), 87);
}

TEST_F(UpgradeTest, ExitCodesOfTheRedistributable) {
    Redistributable(kLocal, 0x00020000);
    const struct {
        DWORD exit;
        int result;
        const char* message;
        bool packages;
    } cases[] = {
        {3010, 3010, nullptr, true},  // the packages succeeded; the restart is left for later
        {1641, 1641, nullptr, false},
        {1602, 1602, "Setup was cancelled.", false},
        {2, 2, "Setup was unable to find the InstMSI file 'C:\\Down loads\\InstMSIW.exe'.", false},
        {1234, 1234, "Setup was unable to upgrade the Windows Installer.", false},
    };
    for (const auto& c : cases) {
        sim.messageBoxAnswers = {IDYES, IDNO};
        Children(0, c.exit);
        EXPECT_EQ(Run(), c.result) << c.exit;
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), c.packages ? 1u : 0u) << c.exit;
        if (c.message) {
            EXPECT_EQ(Boxes().back(), c.message);
        }
        if (c.exit == 3010) {
            // The restart question comes at the very end; No leaves the machine running.
            EXPECT_EQ(Boxes().back(), kRestart);
            EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), 0u);
        }
    }
}

// Deployment tools read the exit status: after an upgrade that asked for a restart, a run
// whose packages all succeeded says whether the restart is still to come or under way.
TEST_F(UpgradeTest, ARestartAfterTheUpgradeShowsInTheExitStatus) {
    Redistributable(kLocal, 0x00020000);
    Children(0, 3010);
    const struct {
        int answer;
        bool restartFails;
        UINT packageResult;
        int status;
        size_t restarts;
    } cases[] = {
        {IDNO, false, 0, 3010, 0},     // the user restarts later
        {IDYES, false, 0, 1641, 1},    // the restart was started
        {IDYES, true, 0, 3010, 1},     // asked for, but not started
        {IDNO, false, 1603, 1603, 0},  // a failed package keeps its own status
    };
    for (const auto& c : cases) {
        sim.messageBoxAnswers = {IDYES, c.answer};
        sim.exitWindowsFails = c.restartFails;
        sim.installResults = {c.packageResult};
        EXPECT_EQ(Run(), c.status) << c.answer << " " << c.packageResult;
        EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), c.restarts);
        EXPECT_EQ(Boxes().back(), kRestart);
    }
}

TEST_F(UpgradeTest, NoRedistributableForOtherProcessors) {
    sim.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
    ForgetNativeMachine();
    EXPECT_EQ(Run(), 1633);
    EXPECT_EQ(Boxes().size(), 1u);  // only the question
    EXPECT_TRUE(sim.processes.empty());
}

TEST_F(UpgradeTest, SystemsWithoutWow64FunctionsGetTheX86RedistributableAndPackage) {
    // Windows 2000: neither IsWow64Process2 nor IsWow64Process exists.
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 5, 0);
    sim.AddSystemModule(u"kernel32.dll", {});
    ForgetNativeMachine();
    Redistributable(kLocal, 0x00020000);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.processes, std::vector<std::u16string>{
                                 u"\"C:\\Down loads\\InstMSIW.exe\" /c:\"msiinst /delayreboot\""});
    EXPECT_EQ(Installs(),
              Strings{"MsiInstallProductW(\"C:\\Down loads\\Lumora.Win32.msi\", \"\")"});
    EXPECT_EQ(Boxes().size(), 1u);  // only the upgrade question
}

TEST_F(UpgradeTest, CancelDuringTheRedistributableDownload) {
    sim.downloads[kUrl].progress = {{10, 100}, {20, 100}};
    CancelAt("0x402, 0xa");
    EXPECT_EQ(Run(), 1602);
    EXPECT_EQ(Boxes().back(), "Setup was cancelled.");
    EXPECT_TRUE(sim.processes.empty());
}

TEST_F(UpgradeTest, CancelAtEachCheckOfTheRedistributableDownload) {
    Redistributable(kCache, 0x00020000);
    sim.downloads[kUrl].progress = {{10, 100}, {20, 100}};
    // Before the transfer, during it, and after it before the verification.
    for (const char* moment :
         {"Downloading Windows Installer", "0x402, 0xa", "Verifying digital"}) {
        sim.messageBoxAnswers = {IDYES};
        CancelAt(moment);
        EXPECT_EQ(Run(), 1602) << moment;
        EXPECT_EQ(Boxes().back(), "Setup was cancelled.") << moment;
        EXPECT_EQ(Boxes().size(), 2u) << moment;       // the question, then the cancellation
        EXPECT_TRUE(sim.processes.empty()) << moment;  // neither verified nor run
        EXPECT_EQ(sim.CountCalls("URLDownloadToCacheFileW"), moment[0] == 'D' ? 0u : 1u) << moment;
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u) << moment;
    }
}

TEST_F(UpgradeTest, FailedRedistributableDownloadNamesTheAddress) {
    sim.downloads.clear();
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(Boxes().back(), "Setup was unable to find the InstMSI file '" + Utf8(kUrl) + "'.");
}
}  // namespace
