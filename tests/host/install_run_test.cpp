// The install run end to end on the simulated machine: start-up, worker, packages, shutdown.
#include "tests/host/install_fixture.h"

namespace {
const char16_t kLocalX64[] = u"C:\\Downloads\\Lumora.x64.msi";

// With the package beside the setup, in the expected version.
class InstallRunTest : public InstallFixture {
    void World() override { sim.AddPackage(kLocalX64, u"5.1"); }
};

TEST_F(InstallRunTest, LocalPackageWithTheExpectedVersionIsInstalledAsItLies) {
    sim.userLangId = 0x0409;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Installs(), Strings{"MsiInstallProductW(\"C:\\Downloads\\Lumora.x64.msi\", \"\")"});
    EXPECT_EQ(sim.CallsNamed("MsiSetInternalUI"), Strings{"MsiSetInternalUI(5, null)"});
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(theApp.currentLangId, 1060);  // the only language of the row
    // The window showed the title text, was hidden before the engine ran, and is gone.
    HWND dialog = sim.DialogOf(IDD_PROGRESS);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Utf8(sim.windows[dialog].text), "Windows Installer Installation Wrapper");
    EXPECT_EQ(Utf8(sim.Control(dialog, IDC_PROGRESS_TITLE).text),
              "Please wait while 'Quorvex Lumora' is downloaded...");
    int hide = sim.IndexOf("ShowWindow");
    ASSERT_GE(hide, 0);
    EXPECT_EQ(sim.calls[hide].substr(sim.calls[hide].size() - 3), " 0)");
    EXPECT_LT(hide, sim.IndexOf("MsiInstallProductW"));
    EXPECT_FALSE(sim.windows[dialog].alive);
    EXPECT_EQ(sim.CountCalls("DialogBoxParamW"), 0u);  // one language: no dialog
    // The worker quit the main loop; shutdown waited for it before tearing down.
    EXPECT_EQ(sim.CallsNamed("GetMessageW"), Strings{"GetMessageW(quit)"});
    EXPECT_LT(sim.IndexOf("WaitForSingleObject"), sim.IndexOf("DestroyWindow"));
    EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), 0u);
}

TEST_F(InstallRunTest, TheWorkerRunsSuspendedUntilOwnedAndThenResumed) {
    Run();
    EXPECT_EQ(sim.CallsNamed("CreateThread"), Strings{"CreateThread(0, null, 0x4)"});
    EXPECT_LT(sim.IndexOf("CreateDialogParamW"), sim.IndexOf("CreateThread"));
    EXPECT_EQ(sim.CallsNamed("CreateDialogParamW")[0], "CreateDialogParamW(1101, 0x10010)");
}

TEST_F(InstallRunTest, LocalCopyWithAnotherVersionIsNotUsed) {
    for (const char16_t* version : {u"5.1.0", u"5.10", u"", u"5.1 "}) {
        sim.AddPackage(kLocalX64, version);
        EXPECT_EQ(Run(), 2) << Utf8(version);
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
        EXPECT_EQ(
            Boxes(),
            Strings{"Setup was unable to find the MSI package or patch "
                    "'https://prenos.quorvex.com/prenos/?verzija=5.1&paket=Lumora.x64.msi'."});
    }
    // The version comparison ignores case.
    sim.AddPackage(kLocalX64, u"5.1");
    EXPECT_EQ(Run(), 0);
}

TEST_F(InstallRunTest, AVersionTooLongForTheBufferIsNeverUsedNorReadPastItsEnd) {
    sim.AddPackage(kLocalX64, u"5.1.0000000000000000");  // 20 characters
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    // Every engine handle was closed, in the order database, view, record.
    EXPECT_EQ(
        sim.CallsNamed("MsiCloseHandle"),
        (Strings{"MsiCloseHandle(database)", "MsiCloseHandle(view)", "MsiCloseHandle(record)"}));
}

TEST_F(InstallRunTest, SystemsThatAreNotNtHaveNoPackage) {
    sim.packages.clear();
    sim.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4, 90);
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00020000;
    EXPECT_EQ(Run(), 1602);
    EXPECT_EQ(Boxes(), Strings{"The setup was unable to find appropriate install package for your "
                               "operating system."});
    EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_ICONERROR));
    // Boxes of the worker are owned by the progress window.
    EXPECT_EQ(sim.messageBoxes[0].owner, sim.DialogOf(IDD_PROGRESS));
}

TEST_F(InstallRunTest, AWorkerThatCannotStartNeverEndsAsSuccess) {
    sim.packages.clear();
    sim.createThreadFails = true;
    EXPECT_EQ(Run(), ERROR_NOT_ENOUGH_MEMORY);
    HWND dialog = sim.DialogOf(IDD_PROGRESS);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(sim.windows[dialog].alive);
    EXPECT_TRUE(sim.messageBoxes.empty());
}

// The main loop can end before the worker: another program posts WM_QUIT to the main thread,
// or GetMessageW fails. Shutdown then waits for the worker while serving the messages of the
// progress window, which the worker's texts and hiding wait for.
TEST_F(InstallRunTest, AMainLoopThatEndsBeforeTheWorkerStillEndsWithTheWorkersResult) {
    for (int way = 0; way < 2; ++way) {
        if (way == 0) {
            sim.onCall = [](SimWindows& s, const std::string& call) {
                if (call.rfind("ResumeThread(", 0) == 0) s.PostThreadMessageW(1, WM_QUIT, 0, 0);
            };
        } else {
            sim.onCall = nullptr;
            sim.getMessageFails = true;
        }
        sim.pendingMessages = 2;  // the progress window's messages meanwhile
        EXPECT_EQ(Run(), 0) << way;
        EXPECT_EQ(sim.Leaks(), "") << way;
        // The worker ran only during shutdown's wait, and did all its work.
        int loopEnd = sim.IndexOf("GetMessageW");
        ASSERT_GE(loopEnd, 0);
        EXPECT_LT(loopEnd, sim.IndexOf("SetWindowTextW", loopEnd + 1, "Please wait")) << way;
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u) << way;
        EXPECT_EQ(sim.CountCalls("WaitForSingleObject"), 0u) << way;
        EXPECT_EQ(sim.pendingMessages, 0) << way;  // every waiting message was served
        EXPECT_EQ(sim.quitMessages, 0) << way;     // the worker's own quit message too
        EXPECT_LT(sim.IndexOf("MsgWaitForMultipleObjects", loopEnd), sim.IndexOf("DestroyWindow"));
        EXPECT_LT(sim.IndexOf("MsiInstallProductW"), sim.IndexOf("DestroyWindow"));
    }
}

TEST_F(InstallRunTest, AFailedShutdownWaitFallsBackToAPlainWait) {
    sim.waitFails = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.CallsNamed("WaitForSingleObject").size(), 1u);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
}

TEST_F(InstallRunTest, AWorkerResultThatCannotBeReadIsNeverSuccess) {
    sim.exitCodeThreadUnreadable = true;
    EXPECT_EQ(Run(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
    sim.exitCodeThreadError = 0;  // the platform reports no reason
    EXPECT_EQ(Run(), 1603);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
}

TEST_F(InstallRunTest, NoProgressWindowNoRun) {
    sim.createDialogFails = true;
    sim.createDialogError = ERROR_NOT_ENOUGH_MEMORY;
    EXPECT_EQ(Run(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(sim.CountCalls("CreateThread"), 0u);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    EXPECT_TRUE(sim.messageBoxes.empty());
    sim.createDialogError = 0;  // the platform reports no reason
    EXPECT_EQ(Run(), 1603);
    EXPECT_EQ(sim.CountCalls("CreateThread"), 0u);
}

TEST_F(InstallRunTest, EngineTooOldAndUserNoAdministrator) {
    sim.packages.clear();
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00010014;  // 1.20
    sim.adminMember = FALSE;
    EXPECT_EQ(Run(), 1603);
    EXPECT_EQ(Boxes(),
              Strings{"Admin priviledges are required for upgrading the Windows Installer."});
    for (const auto& lookup : sim.CallsNamed("GetProcAddress"))  // nothing bound, no package
        EXPECT_EQ(lookup.find("Msi"), std::string::npos) << lookup;
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
}

TEST_F(InstallRunTest, EngineTooOldAndTheUserDeclinesTheUpgrade) {
    sim.packages.clear();
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00010014;
    sim.messageBoxAnswers = {IDNO};
    EXPECT_EQ(Run(), 1602);
    EXPECT_EQ(Boxes(),
              (Strings{"This package requires a newer version of the Windows Installer. Do you "
                       "want to update the version of the Windows Installer on your system?",
                       "Setup was cancelled."}));
    EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(sim.messageBoxes[1].style, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), 0u);
}

TEST_F(InstallRunTest, EngineVersionTwoIsRecentEnough) {
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00020000;
    EXPECT_EQ(Run(), 0);
    // A registered directory is used even when it holds no engine: then it counts as too old.
    sim.registry[u"software\\microsoft\\windows\\currentversion\\installer"][u"InstallerLocation"] =
        SimRegistryValue{REG_SZ, {'D', 0, ':', 0, '\\', 0, 0, 0}};
    sim.adminMember = FALSE;
    EXPECT_EQ(Run(), 1603);
    EXPECT_EQ(sim.CallsNamed("GetFileVersionInfoSizeW").back(),
              "GetFileVersionInfoSizeW(D:\\\\msi.dll)");
}

TEST_F(InstallRunTest, AnEngineWithoutOneOfItsElevenFunctionsIsNotBound) {
    sim.AddEngine({"MsiReinstallProductW"});
    EXPECT_EQ(Run(), 1603);
    EXPECT_EQ(Boxes(), Strings{"Setup was unable to upgrade the Windows Installer."});
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    // The lookup stopped at the missing name.
    auto lookups = sim.CallsNamed("GetProcAddress");
    EXPECT_NE(lookups.back().find("MsiReinstallProductW"), std::string::npos);
}

TEST_F(InstallRunTest, ARestartRequestedByThePackageEndsTheRunWithoutAQuestion) {
    sim.installResults = {3010};
    EXPECT_EQ(Run(), 3010);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_FALSE(theApp.restartPending);
}

// Also after another program's quit message has ended the main loop early: shutdown's wait
// then sees the worker end before the worker's own quit message, which stays queued and must
// not close the question before the user answers it.
TEST_F(InstallRunTest, RestartQuestionAfterAnEngineUpgradeComesLast) {
    for (bool strayQuit : {false, true}) {
        sim.onCall = [strayQuit](SimWindows& s, const std::string& call) {
            // The upgrade step asked for a restart.
            if (call.rfind("CreateThread(", 0) == 0) theApp.restartPending = TRUE;
            if (strayQuit && call.rfind("ResumeThread(", 0) == 0)
                s.PostThreadMessageW(1, WM_QUIT, 0, 0);
        };
        sim.messageBoxAnswers = {IDYES};
        EXPECT_EQ(Run(), 1641) << strayQuit;  // every package succeeded, the restart is under way
        EXPECT_TRUE(sim.messageBoxAnswers.empty()) << strayQuit;  // the user answered
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
        EXPECT_EQ(sim.messageBoxes[0].owner, nullptr);  // the window is gone
        EXPECT_LT(sim.IndexOf("DestroyWindow"), sim.IndexOf("MessageBoxW"));
        // NT: the privilege first, then the restart.
        EXPECT_EQ(sim.CallsNamed("LookupPrivilegeValueW"),
                  Strings{"LookupPrivilegeValueW(null, \"SeShutdownPrivilege\")"});
        EXPECT_EQ(sim.CallsNamed("AdjustTokenPrivileges"),
                  Strings{"AdjustTokenPrivileges(token, 0, 1:19:2, 0, null, null)"});
        EXPECT_LT(sim.IndexOf("AdjustTokenPrivileges"), sim.IndexOf("ExitWindowsEx"));
        EXPECT_EQ(sim.CallsNamed("ExitWindowsEx"), Strings{"ExitWindowsEx(0x2, 0)"});
    }
}

TEST_F(InstallRunTest, RestartOnSystemsThatAreNotNtNeedsNoPrivilege) {
    theApp.restartPending = TRUE;
    theApp.notNt = TRUE;
    sim.messageBoxAnswers = {IDYES};
    theApp.ExitInstance();
    EXPECT_EQ(sim.CountCalls("AdjustTokenPrivileges"), 0u);
    EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), 1u);
    theApp.restartPending = TRUE;
    sim.messageBoxAnswers = {IDNO};
    theApp.ExitInstance();
    EXPECT_EQ(sim.CountCalls("ExitWindowsEx"), 1u);
}

TEST_F(InstallRunTest, ShutdownPrivilegeReportsWhatTheTokenSays) {
    EXPECT_TRUE(EnableShutdownPrivilege());
    sim.privilegeNotAssigned = true;
    EXPECT_FALSE(EnableShutdownPrivilege());
    sim.openTokenFails = true;
    EXPECT_FALSE(EnableShutdownPrivilege());
    sim.AddSystemModule(u"advapi32.dll", {"OpenProcessToken", "AdjustTokenPrivileges"});
    EXPECT_FALSE(EnableShutdownPrivilege());
}
}  // namespace
