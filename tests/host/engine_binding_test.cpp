// Finding and binding the engine: the registered directory first, then the system directory,
// and the tolerance of badly stored "InstallerLocation" values.
#include "state/installer_binding.h"
#include "tests/host/install_fixture.h"

namespace {
const char16_t kKey[] = u"software\\microsoft\\windows\\currentversion\\installer";
// The engine in the system directory, as the simulation keys its modules.
const char16_t kSystemEngine[] = u"c:\\windows\\system32\\msi.dll";

SimRegistryValue Value(DWORD type, const std::u16string& text, int dropBytes = 0) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
    return {type, std::vector<BYTE>(bytes, bytes + text.size() * 2 - dropBytes)};
}
// A text value with its terminating NUL.
SimRegistryValue Sz(DWORD type, const std::u16string& text) { return Value(type, text + u'\0'); }

class EngineBindingTest : public InstallFixture {
protected:
    void TearDown() override {
        Unbind();
        InstallFixture::TearDown();
    }
    void Unbind() {
        if (theApp.engine.module) sim.FreeLibrary(theApp.engine.module);
        theApp.engine = InstallerBinding();
    }
    void Register(const SimRegistryValue& value) {
        sim.registry[kKey][u"InstallerLocation"] = value;
    }
    std::string Location(bool* ok) {
        HKEY key = nullptr;
        sim.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key);
        OwnedText text;
        *ok = ReadInstallerLocation(key, &text);
        sim.RegCloseKey(key);
        return Utf8(text.c_str());
    }
};

TEST_F(EngineBindingTest, LocationReadToleratesBadlyStoredValues) {
    // An expandable value is not expanded, and a text ends at its first NUL.
    const std::u16string nul(1, u'\0');
    const struct {
        SimRegistryValue value;
        const char* location;
        bool ok;
    } cases[] = {
        {Sz(REG_SZ, u"C:\\Windows\\system32\\"), "C:\\Windows\\system32\\", true},
        {Sz(REG_EXPAND_SZ, u"%SystemRoot%\\System32"), "%SystemRoot%\\System32", true},
        {Sz(REG_SZ, u""), "", true},
        {Value(REG_SZ, u""), "", true},
        {Sz(REG_SZ, u"C:\\A" + nul + u"junk"), "C:\\A", true},
        {Value(REG_SZ, u"C:\\NoTerminator"), "", false},
        {Value(REG_SZ, u"C:\\X" + nul, 1), "", false},
        {Value(REG_DWORD, u"\x0001\x0000"), "", false},
        {Sz(REG_MULTI_SZ, u"C:\\"), "", false},
    };
    for (const auto& c : cases) {
        Register(c.value);
        bool ok = !c.ok;
        EXPECT_EQ(Location(&ok), c.location);
        EXPECT_EQ(ok, c.ok) << c.location;
    }
    sim.registry[kKey].clear();
    bool ok = true;
    EXPECT_EQ(Location(&ok), "");
    EXPECT_FALSE(ok);
}

TEST_F(EngineBindingTest, TheRegisteredDirectoryIsTriedFirstWithAnAddedSeparator) {
    Register(Sz(REG_SZ, u"C:\\Windows\\system32\\"));
    sim.modules[u"c:\\windows\\system32\\\\msi.dll"] = sim.modules[kSystemEngine];
    EXPECT_EQ(BindInstaller(theApp), 0u);
    EXPECT_EQ(sim.CallsNamed("LoadLibraryExW"),
              Strings{"LoadLibraryExW(C:\\Windows\\system32\\\\msi.dll, null, 0x8)"});
    EXPECT_NE(theApp.engine.MsiCloseHandle, nullptr);
    EXPECT_EQ(sim.openKeys(), 0);
}

TEST_F(EngineBindingTest, WithoutAUsableRegistrationTheSystemDirectoryIsUsed) {
    for (const auto& value : {Value(REG_DWORD, u"\x0001\x0000"), Sz(REG_SZ, u""),
                              Sz(REG_EXPAND_SZ, u"%SystemRoot%\\System32")}) {
        sim.calls.clear();
        Register(value);
        EXPECT_EQ(BindInstaller(theApp), 0u);
        // Never by bare name from the search path, which starts beside the setup.
        EXPECT_EQ(sim.CallsNamed("LoadLibraryExW").back(),
                  "LoadLibraryExW(C:\\Windows\\system32\\msi.dll, null, 0x8)");
        Unbind();
    }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(EngineBindingTest, ARegisteredDirectoryThatIsNotAbsoluteIsNeverLoaded) {
    // Each relative one would be searched from the current directory or the setup's folder,
    // where a planted folder could hold an engine. A drive letter with a backslash, or two
    // backslashes, is tried as registered.
    const std::vector<const char16_t*> relative = {
        u"%SystemRoot%\\System32", u"System32", u"D:", u"D:System32", u"\\Windows\\System32",
        u"C:/Windows/System32",    u"\\"};
    const std::vector<const char16_t*> absolute = {u"d:\\Engine", u"Z:\\", u"\\\\server\\share"};
    for (bool isAbsolute : {false, true})
        for (const char16_t* location : isAbsolute ? absolute : relative) {
            sim.modules[Lower(location) + u"\\msi.dll"] = sim.modules[kSystemEngine];
            sim.calls.clear();
            Register(Sz(isAbsolute ? REG_SZ : REG_EXPAND_SZ, location));
            EXPECT_EQ(BindInstaller(theApp), 0u) << Utf8(location);
            EXPECT_EQ(sim.CallsNamed("LoadLibraryExW"),
                      Strings{"LoadLibraryExW(" +
                              (isAbsolute ? Utf8(location) : "C:\\Windows\\system32") +
                              "\\msi.dll, null, 0x8)"})
                << Utf8(location);
            Unbind();
        }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(EngineBindingTest, ARelativeRegistrationIsNotAskedForTheEngineVersion) {
    sim.modules[u"%systemroot%\\system32\\msi.dll"] = sim.modules[kSystemEngine];
    Register(Sz(REG_EXPAND_SZ, u"%SystemRoot%\\System32"));
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00020000;
    EXPECT_FALSE(InstallerNeedsUpgrade(theApp));
    for (const auto& query : sim.CallsNamed("GetFileVersionInfoSizeW"))
        EXPECT_EQ(query, "GetFileVersionInfoSizeW(C:\\Windows\\system32\\msi.dll)");
}

TEST_F(EngineBindingTest, TheEngineMinimumComesFromTheRunsConfiguration) {
    static const PackageEntry rows[] = {{}};
    static const SetupConfig config = {u"https://r/", u"A.exe", u"W.exe", 301, rows};
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00030000;  // 3.0 = 300
    EXPECT_FALSE(InstallerNeedsUpgrade(theApp));
    theApp.config = &config;
    EXPECT_TRUE(InstallerNeedsUpgrade(theApp));
    sim.files[sim.systemDirectory + u"\\msi.dll"].fileVersionMS = 0x00030001;  // 3.1 = 301
    EXPECT_FALSE(InstallerNeedsUpgrade(theApp));
}

TEST_F(EngineBindingTest, NoEngineAtAllShowsOneBox) {
    sim.modules.erase(kSystemEngine);
    EXPECT_EQ(BindInstaller(theApp), 1603u);
    EXPECT_EQ(Boxes(), Strings{"Setup was unable to upgrade the Windows Installer."});
    EXPECT_EQ(theApp.engine.module, nullptr);
}

TEST_F(EngineBindingTest, FunctionsAreLookedUpInOrderUntilOneIsMissing) {
    sim.AddEngine({"MsiViewExecute"});
    EXPECT_EQ(BindInstaller(theApp), 1603u);
    EXPECT_NE(theApp.engine.MsiDatabaseOpenViewW, nullptr);
    EXPECT_EQ(theApp.engine.MsiViewExecute, nullptr);
    EXPECT_EQ(theApp.engine.MsiViewFetch, nullptr);
    EXPECT_NE(theApp.engine.module, nullptr);  // released at shutdown
    auto lookups = sim.CallsNamed("GetProcAddress");
    ASSERT_EQ(lookups.size(), 8u);
    EXPECT_NE(lookups[0].find("MsiSetInternalUI"), std::string::npos);
    EXPECT_NE(lookups[7].find("MsiViewExecute"), std::string::npos);
}
}  // namespace
