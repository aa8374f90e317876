#include "probes/probes.h"

#include "tests/host/install_fixture.h"

namespace {
const std::vector<DWORD> kAdmins = {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS};
const std::vector<DWORD> kUsers = {SECURITY_BUILTIN_DOMAIN_RID, 545};
const char16_t kProductOptions[] = u"System\\CurrentControlSet\\Control\\ProductOptions";

class ProbesTest : public SimTest {
protected:
    void SetUp() override { ForgetNativeMachine(); }
};

TEST_F(ProbesTest, PlatformProbeReadsTheBaseRecordAndFallsBackToNotNt) {
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 10);
    DWORD major = 0;
    EXPECT_FALSE(ProbePlatform(&major));
    EXPECT_EQ(major, 10u);
    EXPECT_EQ(sim.CallsNamed("GetVersionExW"), Strings{"GetVersionExW(276)"});
    sim.SetVersion(VER_PLATFORM_WIN32_WINDOWS, 4);
    EXPECT_TRUE(ProbePlatform(nullptr));
    sim.versionFails = true;
    major = 99;
    EXPECT_TRUE(ProbePlatform(&major));
    EXPECT_EQ(major, 0u);
}

TEST_F(ProbesTest, EveryoneIsAdministratorOnNonNtWithoutAnyCall) {
    EXPECT_TRUE(IsUserAdmin(true, 4));
    EXPECT_FALSE(IsTerminalServer(true, 4));
    EXPECT_TRUE(sim.calls.empty());
}

TEST_F(ProbesTest, Nt5AsksCheckTokenMembershipFromTheSystemAdvapi) {
    sim.adminMember = TRUE;
    EXPECT_TRUE(IsUserAdmin(false, 5));
    EXPECT_EQ(sim.CallsNamed("AllocateAndInitializeSid"),
              Strings{"AllocateAndInitializeSid(0.0.0.0.0.5, 2, 32, 544)"});
    EXPECT_EQ(sim.CallsNamed("LoadLibraryExW"),
              Strings{"LoadLibraryExW(C:\\Windows\\system32\\advapi32.dll, null, 0x8)"});
    // The caller's own effective token, and the Administrators group.
    EXPECT_EQ(sim.CallsNamed("CheckTokenMembership"),
              Strings{"CheckTokenMembership(null, 32-544)"});
    sim.adminMember = FALSE;
    EXPECT_FALSE(IsUserAdmin(false, 6));
    sim.adminMember = TRUE;
    sim.checkMembershipFails = true;
    EXPECT_FALSE(IsUserAdmin(false, 6));
}

TEST_F(ProbesTest, Nt5WithoutTheMembershipFunctionIsNoAdministrator) {
    sim.adminMember = TRUE;
    sim.modules.clear();
    sim.AddSystemModule(u"advapi32.dll", {});
    EXPECT_FALSE(IsUserAdmin(false, 5));
    sim.modules.clear();
    EXPECT_FALSE(IsUserAdmin(false, 5));
    sim.allocateSidFails = true;
    EXPECT_FALSE(IsUserAdmin(false, 5));
}

TEST_F(ProbesTest, BeforeNt5TheTokenGroupsDecideWhateverTheirAttributes) {
    sim.tokenGroups = {kUsers, kAdmins};  // the simulated groups are all deny-only
    EXPECT_TRUE(IsUserAdmin(false, 4));
    EXPECT_EQ(sim.CountCalls("CheckTokenMembership"), 0u);
    EXPECT_EQ(sim.CallsNamed("OpenProcessToken")[0],
              "OpenProcessToken(0xffffffffffffffff, 0x20008)");
    sim.tokenGroups = {kUsers};
    EXPECT_FALSE(IsUserAdmin(false, 4));
    sim.openTokenFails = true;
    sim.tokenGroups = {kAdmins};
    EXPECT_FALSE(IsUserAdmin(false, 3));
}

TEST_F(ProbesTest, BeforeNt5ALongGroupListIsReadWithALargerBuffer) {
    sim.tokenGroups.assign(80, kUsers);
    sim.tokenGroups.push_back(kAdmins);
    EXPECT_TRUE(IsUserAdmin(false, 4));
    auto queries = sim.CallsNamed("GetTokenInformation");
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_NE(queries[0].find(", 1024)"), std::string::npos);
    EXPECT_EQ(queries[1].find(", 1024)"), std::string::npos);
}

TEST_F(ProbesTest, TerminalServerOnNt5FollowsTheSuiteMask) {
    const struct {
        WORD mask;
        bool expected;
    } cases[] = {{VER_SUITE_TERMINAL, true},
                 {VER_SUITE_TERMINAL | 0x0400, true},
                 {VER_SUITE_TERMINAL | VER_SUITE_SINGLEUSERTS, false},
                 {VER_SUITE_SINGLEUSERTS, false},
                 {0, false}};
    for (const auto& c : cases) {
        sim.SetVersion(VER_PLATFORM_WIN32_NT, 5, 0, c.mask);
        EXPECT_EQ(IsTerminalServer(false, 5), c.expected) << c.mask;
    }
    EXPECT_EQ(sim.CallsNamed("GetVersionExW")[0], "GetVersionExW(284)");
    sim.SetVersion(VER_PLATFORM_WIN32_NT, 5, 0, VER_SUITE_TERMINAL);
    sim.versionFails = true;
    EXPECT_FALSE(IsTerminalServer(false, 5));
}

TEST_F(ProbesTest, TerminalServerBeforeNt5ReadsProductSuite) {
    EXPECT_FALSE(IsTerminalServer(false, 4));  // no key at all
    sim.SetMultiString(kProductOptions, u"ProductSuite",
                       {u"Enterprise", u"Terminal Server", u"BackOffice"});
    EXPECT_TRUE(IsTerminalServer(false, 4));
    EXPECT_EQ(sim.CallsNamed("RegOpenKeyExW").back(),
              "RegOpenKeyExW(0xffffffff80000002, "
              "System\\CurrentControlSet\\Control\\ProductOptions, 0, 0x20019)");
    // Case matters, whole names only, and strings after the first empty one are not part of
    // the list.
    for (const auto& suite :
         std::vector<std::vector<std::u16string>>{{u"Enterprise", u"terminal server"},
                                                  {u"Terminal Server Lite"},
                                                  {u"Enterprise", u"", u"Terminal Server"}}) {
        sim.SetMultiString(kProductOptions, u"ProductSuite", suite);
        EXPECT_FALSE(IsTerminalServer(false, 4)) << Utf8(suite[0]);
    }
    auto& value =
        sim.registry[u"system\\currentcontrolset\\control\\productoptions"][u"ProductSuite"];
    value.type = REG_SZ;
    EXPECT_FALSE(IsTerminalServer(false, 4));
    value = {REG_MULTI_SZ, {}};
    EXPECT_FALSE(IsTerminalServer(false, 4));
}

TEST_F(ProbesTest, ProductSuiteReaderStaysInsideMalformedData) {
    // Not terminated, odd sizes and a lone string: answered, never read past the data.
    std::u16string unterminated = u"Terminal Server";
    EXPECT_FALSE(ProductSuiteHasTerminalServer(unterminated.data(), unterminated.size() * 2));
    std::u16string exact = std::u16string(u"Terminal Server") + u'\0';
    EXPECT_TRUE(ProductSuiteHasTerminalServer(exact.data(), exact.size() * 2));
    EXPECT_FALSE(ProductSuiteHasTerminalServer(exact.data(), exact.size() * 2 - 1));
    EXPECT_FALSE(ProductSuiteHasTerminalServer(exact.data(), 0));
}

TEST_F(ProbesTest, NativeMachinePrefersIsWow64Process2AndIsCached) {
    sim.nativeMachine = IMAGE_FILE_MACHINE_ARM64;
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_ARM64);
    size_t before = sim.calls.size();
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_ARM64);
    EXPECT_EQ(sim.calls.size(), before);
}

TEST_F(ProbesTest, NativeMachineWithoutIsWow64Process2ReadsWow64) {
    sim.AddSystemModule(u"kernel32.dll", {"IsWow64Process"});
    sim.wow64 = TRUE;
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_AMD64);
    ForgetNativeMachine();
    sim.wow64 = FALSE;
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(sim.CountCalls("IsWow64Process2"), 0u);
    // The x64 build is never under WOW64: it must not take the 32-bit rule's x86 answer.
    EXPECT_EQ(LegacyNativeMachine(true, FALSE), IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(LegacyNativeMachine(false, FALSE), IMAGE_FILE_MACHINE_I386);
}

TEST_F(ProbesTest, NativeMachineWithoutAnyWow64FunctionIsX86AndIsCached) {
    // NT 4, 2000 and XP before SP2 have neither function: the setup runs there natively.
    sim.AddSystemModule(u"kernel32.dll", {});
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_I386);
    size_t before = sim.calls.size();
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(sim.calls.size(), before);
    EXPECT_EQ(sim.CountCalls("IsWow64Process"), 0u);
}

TEST_F(ProbesTest, NativeMachineFailureIsNotCached) {
    sim.wowCallFails = true;
    EXPECT_EQ(GetNativeMachine(), 0);
    sim.wowCallFails = false;
    sim.nativeMachine = IMAGE_FILE_MACHINE_AMD64;
    EXPECT_EQ(GetNativeMachine(), IMAGE_FILE_MACHINE_AMD64);
    ForgetNativeMachine();
    sim.kernel32Missing = true;
    EXPECT_EQ(GetNativeMachine(), 0);
}

TEST_F(ProbesTest, FileVersionReadsTheFixedRecord) {
    // Without a version resource: the platform's error and no version. A version resource
    // without a fixed record is success with the largest version.
    const DWORD none = 0xFFFFFFFF;
    const struct {
        const char16_t* path;
        SimFile file;
        DWORD result;
        DWORD version;
    } cases[] = {
        {u"C:\\msi.dll", {true, true, 0x00050001, false}, 0, 0x00050001},
        {u"C:\\plain.txt", {false, false, 0, false}, ERROR_RESOURCE_TYPE_NOT_FOUND, none},
        {u"C:\\odd.dll", {true, false, 0, false}, 0, none},
        {u"C:\\broken.dll", {true, true, 0x00020000, true}, ERROR_RESOURCE_DATA_NOT_FOUND, none}};
    for (const auto& c : cases) {
        sim.files[c.path] = c.file;
        DWORD version = 0;
        EXPECT_EQ(GetFileVersionMS(c.path, &version), c.result) << Utf8(c.path);
        EXPECT_EQ(version, c.version) << Utf8(c.path);
    }
    EXPECT_EQ(VersionNumber(0x00050001), 501u);
    EXPECT_EQ(sim.CallsNamed("GlobalAlloc")[0].substr(0, 17), "GlobalAlloc(0x40,");
    EXPECT_EQ(GetFileVersionMS(u"C:\\missing.dll", nullptr), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(ProbesTest, VersionArithmeticComparesMajorTimesHundredPlusMinor) {
    EXPECT_EQ(VersionNumber(0x00020000), 200u);
    EXPECT_EQ(VersionNumber(0x00040005), 405u);
    EXPECT_EQ(VersionNumber(0x00010014), 120u);
    EXPECT_LT(VersionNumber(0x00010014), 200u);
    EXPECT_EQ(VersionNumber(0xFFFFFFFF), 65535u * 100u + 65535u);
}
}  // namespace
