#include "tests/host/install_fixture.h"

namespace {
class StartupTest : public SimTest {
protected:
    void SetUp() override {
        sim.LoadEnglishStrings();
        sim.AddTrustLibraries();
    }
};

TEST_F(StartupTest, UsageArgumentsShowTheUsageBoxAndExitZero) {
    for (const char16_t* args : {u"/?", u"/x", u"-h", u"/ab", u"/", u"\"/a\""}) {
        EXPECT_EQ(Run(args), 0) << Utf8(args);
        ASSERT_EQ(sim.messageBoxes.size(), 1u) << Utf8(args);
        const auto& box = sim.messageBoxes[0];
        EXPECT_EQ(box.text, sim.strings[IDS_USAGE]);
        EXPECT_EQ(Utf8(box.caption), "Windows Installer Installation Wrapper");
        EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(sim.CountCalls("CreateMutexW"), 0u);
        EXPECT_EQ(theApp.mode, kModeUsage);
    }
}

TEST_F(StartupTest, BadVerifyArgumentsShowUsageAndExit160) {
    for (const char16_t* args : {u"/v", u"/v a b", u"-V \"a b\" c"}) {
        EXPECT_EQ(Run(args), 160) << Utf8(args);
        ASSERT_EQ(sim.messageBoxes.size(), 1u);
        EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_ICONINFORMATION));
        EXPECT_TRUE(sim.trustCalls.empty());
    }
}

TEST_F(StartupTest, VerifyModeChecksTheFileAgainstItselfAndShowsNothing) {
    sim.modulePath = u"C:\\Program Files\\Setup\\setup.exe";
    sim.trustFiles[sim.modulePath] = SimTrustFile{0, {}, 3};
    sim.trustFiles[u"D:\\My Files\\package.msi"] = SimTrustFile{0, {}, 3};
    EXPECT_EQ(Run(u"/v \"D:\\My Files\\package.msi\""), 0);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(sim.CountCalls("CreateMutexW"), 0u);
    EXPECT_EQ(sim.CountCalls("CreateDialogParamW"), 0u);
    ASSERT_EQ(sim.trustCalls.size(), 5u);
    EXPECT_EQ(Utf8(sim.trustCalls[0].path), "C:\\Program Files\\Setup\\setup.exe");
    EXPECT_EQ(Utf8(sim.trustCalls.back().path), "D:\\My Files\\package.msi");
    EXPECT_EQ(sim.trustCalls.back().window, nullptr);  // no window: full UI has no owner
    EXPECT_EQ(static_cast<DWORD>(Run(u"-V  D:\\unsigned.exe  ")), 0x800B0004u);
    EXPECT_EQ(Utf8(sim.trustCalls.back().path), "D:\\unsigned.exe");
    EXPECT_TRUE(sim.messageBoxes.empty());
    sim.modules.clear();  // no trust provider at all
    EXPECT_EQ(static_cast<DWORD>(Run(u"/V x")), 0x800B0001u);
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(StartupTest, VerifyModeTakesAFileWhoseNameEndsInACombiningMark) {
    sim.trustFiles[sim.modulePath] = SimTrustFile{0, {}, 3};
    const std::u16string file = u"D:\\Fotos\\Cafe\u0301.msi\u0301";
    sim.trustFiles[file] = SimTrustFile{0, {}, 3};
    EXPECT_EQ(Run(u"/v \"" + file + u"\""), 0);
    EXPECT_TRUE(sim.messageBoxes.empty());
    ASSERT_FALSE(sim.trustCalls.empty());
    EXPECT_EQ(sim.trustCalls.back().path, file);
}

TEST_F(StartupTest, SecondInstanceEndsSilentlyWith1618) {
    sim.existingMutexes.insert(kGlobalMutexName);
    EXPECT_EQ(Run(), 1618);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(
        sim.CallsNamed("CreateMutexW"),
        Strings{"CreateMutexW(null, 0, Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA})"});
    sim.existingMutexes.clear();
    sim.createMutexFails = true;
    EXPECT_EQ(Run(u"/a"), 1618);
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(StartupTest, MutexNameFollowsPlatformAndTerminalServer) {
    const struct {
        DWORD platform;
        DWORD major;
        bool terminalServer;
        const char16_t* name;
    } cases[] = {
        {VER_PLATFORM_WIN32_NT, 5, false, kGlobalMutexName},
        {VER_PLATFORM_WIN32_NT, 10, false, kGlobalMutexName},
        {VER_PLATFORM_WIN32_NT, 4, false, kLocalMutexName},
        {VER_PLATFORM_WIN32_NT, 4, true, kGlobalMutexName},
        {VER_PLATFORM_WIN32_WINDOWS, 4, false, kLocalMutexName},
    };
    for (const auto& c : cases) {
        sim.SetVersion(c.platform, c.major);
        sim.registry.clear();
        if (c.terminalServer)
            sim.SetMultiString(u"System\\CurrentControlSet\\Control\\ProductOptions",
                               u"ProductSuite", {u"Terminal Server"});
        Run();
        auto created = sim.CallsNamed("CreateMutexW");
        ASSERT_EQ(created.size(), 1u);
        EXPECT_NE(created[0].find(", " + Utf8(c.name) + ")"), std::string::npos) << created[0];
    }
}

TEST_F(StartupTest, StartupRecordsPathsLanguageAndPlatform) {
    sim.modulePath = u"C:\\a/b\\Setup Dir\\setup.exe";
    sim.userLangId = 0x0424;
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 6);
    sim.adminMember = TRUE;
    Run();
    EXPECT_EQ(theApp.currentLangId, 0x0424);
    EXPECT_EQ(theApp.osMajor, 6);
    EXPECT_FALSE(theApp.notNt);
    EXPECT_TRUE(theApp.isAdmin);
    EXPECT_FALSE(theApp.restartPending);
    EXPECT_EQ(theApp.mode, kModeInstall);
    // ExitInstance released the paths; they were right while the run lasted.
    EXPECT_TRUE(theApp.exePath.IsNull());
    EXPECT_TRUE(theApp.exeDir.IsNull());
    // Start-up alone (the run above left no mutex behind): the install run starts, and the
    // paths are kept until shutdown.
    theApp.m_lpCmdLine = nullptr;
    ASSERT_TRUE(theApp.InitInstance());
    EXPECT_EQ(Utf8(theApp.exeDir.c_str()), "C:\\a/b\\Setup Dir\\");
    EXPECT_EQ(Utf8(theApp.exePath.c_str()), "C:\\a/b\\Setup Dir\\setup.exe");
    theApp.ExitInstance();
    EXPECT_TRUE(theApp.exePath.IsNull());
    sim.modulePath = u"setup.exe";
    sim.existingMutexes.clear();
    ASSERT_TRUE(theApp.InitInstance());
    EXPECT_EQ(Utf8(theApp.exeDir.c_str()), ".\\");
    EXPECT_EQ(Utf8(theApp.exePath.c_str()), "setup.exe");
    theApp.ExitInstance();
}

TEST_F(StartupTest, UnreadableModulePathEndsStartupWithAnError) {
    sim.modulePath = std::u16string(600, u'x');
    EXPECT_EQ(Run(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(sim.CountCalls("CreateMutexW"), 0u);
}
}  // namespace
