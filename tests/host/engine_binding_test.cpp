// Finding and binding the engine: the registered directory first, then the system directory,
// and the tolerance of badly stored "InstallerLocation" values.
#include <string.h>

#include "state/installer_binding.h"
#include "tests/host/install_fixture.h"

namespace {

const char16_t kKey[] = u"software\\microsoft\\windows\\currentversion\\installer";

SimRegistryValue Value(DWORD type, const std::u16string& text, int dropBytes = 0) {
    SimRegistryValue v{type, {}};
    v.data.resize(text.size() * 2);
    if (!v.data.empty()) memcpy(v.data.data(), text.data(), v.data.size());
    v.data.resize(v.data.size() - dropBytes);
    return v;
}

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

class EngineBindingTest : public InstallFixture {
protected:
    void TearDown() override {
        if (theApp.engine.module) sim.FreeLibrary(theApp.engine.module);
        theApp.engine = InstallerBinding();
        InstallFixture::TearDown();
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
    const std::u16string nul(1, u'\0');
    const struct {
        SimRegistryValue value;
        const char* location;
        bool ok;
    } cases[] = {
        {Value(REG_SZ, u"C:\\Windows\\system32\\" + nul), "C:\\Windows\\system32\\", true},
        {Value(REG_EXPAND_SZ, u"%SystemRoot%\\System32" + nul), "%SystemRoot%\\System32", true},
        {Value(REG_SZ, nul), "", true},
        {Value(REG_SZ, u""), "", true},
        {Value(REG_SZ, u"C:\\A" + nul + u"junk" + nul), "C:\\A", true},  // up to the first NUL
        {Value(REG_SZ, u"C:\\NoTerminator"), "", false},
        {Value(REG_SZ, u"C:\\X" + nul, 1), "", false},
        {Value(REG_DWORD, u"\x0001\x0000"), "", false},
        {Value(REG_MULTI_SZ, u"C:\\" + nul), "", false},
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
    Register(Value(REG_SZ, std::u16string(u"C:\\Windows\\system32\\") + u'\0'));
    sim.modules[u"c:\\windows\\system32\\\\msi.dll"] =
        sim.modules[u"c:\\windows\\system32\\msi.dll"];
    EXPECT_EQ(BindInstaller(theApp), 0u);
    EXPECT_EQ(sim.CallsNamed("LoadLibraryExW"),
              Strings{"LoadLibraryExW(C:\\Windows\\system32\\\\msi.dll, null, 0x8)"});
    EXPECT_NE(theApp.engine.MsiCloseHandle, nullptr);
    EXPECT_EQ(sim.openKeys(), 0);
}

TEST_F(EngineBindingTest, WithoutAUsableRegistrationTheSystemDirectoryIsUsed) {
    for (const auto& value :
         {Value(REG_DWORD, u"\x0001\x0000"), Value(REG_SZ, std::u16string(1, u'\0')),
          Value(REG_EXPAND_SZ, std::u16string(u"%SystemRoot%\\System32") + u'\0')}) {
        sim.calls.clear();
        Register(value);
        EXPECT_EQ(BindInstaller(theApp), 0u);
        // Never by bare name from the search path, which starts beside the setup.
        EXPECT_EQ(sim.CallsNamed("LoadLibraryExW").back(),
                  "LoadLibraryExW(C:\\Windows\\system32\\msi.dll, null, 0x8)");
        sim.FreeLibrary(theApp.engine.module);
        theApp.engine = InstallerBinding();
    }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(EngineBindingTest, ARegisteredDirectoryThatIsNotAbsoluteIsNeverLoaded) {
    // Each relative one would be searched from the current directory or the setup's folder,
    // where a planted folder could hold an engine. A drive letter with a backslash, or two
    // backslashes, is tried as registered.
    const struct {
        const char16_t* location;
        DWORD type;
        bool absolute;
    } cases[] = {{u"%SystemRoot%\\System32", REG_EXPAND_SZ, false},
                 {u"System32", REG_EXPAND_SZ, false},
                 {u"D:", REG_EXPAND_SZ, false},
                 {u"D:System32", REG_EXPAND_SZ, false},
                 {u"\\Windows\\System32", REG_EXPAND_SZ, false},
                 {u"C:/Windows/System32", REG_EXPAND_SZ, false},
                 {u"\\", REG_EXPAND_SZ, false},
                 {u"d:\\Engine", REG_SZ, true},
                 {u"Z:\\", REG_SZ, true},
                 {u"\\\\server\\share", REG_SZ, true}};
    for (const auto& c : cases) {
        sim.modules[Utf16(Lower(Utf8(c.location))) + u"\\msi.dll"] =
            sim.modules[u"c:\\windows\\system32\\msi.dll"];
        sim.calls.clear();
        Register(Value(c.type, c.location + std::u16string(1, u'\0')));
        EXPECT_EQ(BindInstaller(theApp), 0u) << Utf8(c.location);
        EXPECT_EQ(
            sim.CallsNamed("LoadLibraryExW"),
            Strings{"LoadLibraryExW(" + (c.absolute ? Utf8(c.location) : "C:\\Windows\\system32") +
                    "\\msi.dll, null, 0x8)"})
            << Utf8(c.location);
        sim.FreeLibrary(theApp.engine.module);
        theApp.engine = InstallerBinding();
    }
    EXPECT_TRUE(sim.messageBoxes.empty());
}

TEST_F(EngineBindingTest, ARelativeRegistrationIsNotAskedForTheEngineVersion) {
    sim.modules[u"%systemroot%\\system32\\msi.dll"] =
        sim.modules[u"c:\\windows\\system32\\msi.dll"];
    Register(Value(REG_EXPAND_SZ, std::u16string(u"%SystemRoot%\\System32") + u'\0'));
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
    sim.modules.erase(u"c:\\windows\\system32\\msi.dll");
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
