// One package row through InstallPackage: keywords, columns, the administrative target,
// patches, the local copy, cancellation and the reporting of engine results.
#include "install/install_package.h"

#include "tests/host/install_fixture.h"

namespace {
const char kAppCall[] = "MsiInstallProductW(\"C:\\Downloads\\App.msi\"";
const char kSlovenianCall[] = "MsiInstallProductW(\"C:\\Downloads\\App.sl.msi\"";
const std::string kInstallApp = kAppCall + std::string(", \"\")");

LanguageEntry Language(LANGID id, const char16_t* name, const char16_t* x64Package,
                       const char16_t* x64Patch = nullptr, const char16_t* x86Package = nullptr) {
    return {id, name, {nullptr, x86Package, x64Package, nullptr}, {nullptr, nullptr, x64Patch}};
}

class InstallPackageTest : public InstallFixture {
protected:
    void World() override {
        languages_[0] = Language(1033, u"English", u"App.msi", u"App.msp", u"App32.msi");
        row_ = PackageEntry{nullptr, u"INSTALL", u"App", nullptr, nullptr, 0, 3, languages_};
        config_ = SetupConfig{u"https://r/", u"A.exe", u"W.exe", 200, rows_};
        theApp.config = &config_;
        sim.AddPackage(u"C:\\Downloads\\App.msi", u"1.0", u"{CODE}");
    }
    // Both lists end at their first empty entry.
    LanguageEntry languages_[4]{};
    PackageEntry rows_[3]{};
    PackageEntry& row_ = rows_[0];  // the row a case changes
    SetupConfig config_{};
};

TEST_F(InstallPackageTest, KeywordsAreCheckedForTheKindOfFile) {
    struct Case {
        const char16_t* operation;
        bool productPresent;
        int result;
        std::string install;  // empty: none
    } cases[] = {
        {u"INSTALL", true, 0, kInstallApp},
        {nullptr, true, 0, kInstallApp},
        {u"installupd", true, 0,
         "MsiInstallProductW(\"C:\\Downloads\\App.msi\", \"REINSTALL=ALL REINSTALLMODE=vomus\")"},
        {u"INSTALLUPD", false, 0, kInstallApp},
        {u"MAJPATCH", true, 87, ""},
        {u"MINPATCH", true, 87, ""},
        {u"REMOVE", true, 87, ""}};
    for (const auto& c : cases) {
        sim.productStates[u"{CODE}"] = c.productPresent ? 5 : -1;
        row_.operation = c.operation;
        EXPECT_EQ(Run(), c.result) << Utf8(c.operation);
        if (!c.install.empty()) {
            EXPECT_EQ(Installs(), Strings{c.install}) << Utf8(c.operation);
        } else {
            EXPECT_TRUE(Installs().empty());
            EXPECT_EQ(Boxes(),
                      Strings{"The setup was authored with an incorrect operation resource '" +
                              Utf8(c.operation) + "' and cannot continue."});
        }
    }
}

TEST_F(InstallPackageTest, AdvertisedProductsAreReinstalledToo) {
    row_.operation = u"INSTALLUPD";
    sim.productStates[u"{CODE}"] = 1;
    Run();
    EXPECT_EQ(sim.CallsNamed("MsiQueryProductStateW"),
              Strings{"MsiQueryProductStateW(\"{CODE}\")"});
    EXPECT_NE(Installs()[0].find("vomus"), std::string::npos);
    // The row's own properties replace the reinstall properties, whatever the state.
    row_.properties = u"FOO=1";
    Run();
    EXPECT_EQ(Installs(), Strings{"MsiInstallProductW(\"C:\\Downloads\\App.msi\", \"FOO=1\")"});
}

TEST_F(InstallPackageTest, PatchesOfTheSameColumnOnly) {
    languages_[0] = Language(1033, u"English", nullptr, u"App.msp", u"App32.msi");
    sim.files[u"C:\\Downloads\\App.msp"] = SimFile{};
    const std::string patch = "MsiApplyPatchW(\"C:\\Downloads\\App.msp\", null, 0, ";
    const std::string minor = patch + "\"REINSTALL=ALL REINSTALLMODE=omus\")";
    const struct {
        const char16_t* operation;
        std::string call;
    } cases[] = {{u"MINPATCH", minor}, {nullptr, minor}, {u"majpatch", patch + "null)"}};
    for (const auto& c : cases) {
        row_.operation = c.operation;
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(sim.CallsNamed("MsiApplyPatchW"), Strings{c.call});
        EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);  // never the x86 package
    }
    row_.operation = u"INSTALL";
    EXPECT_EQ(Run(), 87);
}

TEST_F(InstallPackageTest, NoFileForThisMachine) {
    for (WORD machine : {static_cast<WORD>(IMAGE_FILE_MACHINE_ARM64), static_cast<WORD>(0)}) {
        ForgetNativeMachine();
        sim.nativeMachine = machine;
        EXPECT_EQ(Run(), 1602);
        EXPECT_EQ(Boxes(), Strings{"The setup was unable to find appropriate install "
                                   "package for your operating system."});
    }
}

TEST_F(InstallPackageTest, EachMachineTypeTakesItsOwnColumn) {
    sim.packages.clear();
    languages_[0] = LanguageEntry{1033,
                                  u"English",
                                  {u"App9x.msi", u"App32.msi", u"App64.msi", u"AppArm.msi"},
                                  {u"App9x.msp", u"App32.msp", u"App64.msp", u"AppArm.msp"}};
    for (const char16_t* file : {u"App32.msi", u"App64.msi", u"AppArm.msi", u"AppArm.msp"})
        sim.AddPackage(u"C:\\Downloads\\" + std::u16string(file), u"1.0", u"{CODE}");
    const struct {
        WORD machine;
        const char* file;
    } cases[] = {
        {IMAGE_FILE_MACHINE_I386, "App32.msi"},
        {IMAGE_FILE_MACHINE_AMD64, "App64.msi"},
        {IMAGE_FILE_MACHINE_ARM64, "AppArm.msi"},
    };
    for (const auto& c : cases) {
        ForgetNativeMachine();
        sim.nativeMachine = c.machine;
        EXPECT_EQ(Run(), 0) << c.file;
        EXPECT_EQ(Installs(), Strings{"MsiInstallProductW(\"C:\\Downloads\\" + std::string(c.file) +
                                      "\", \"\")"});
    }
    // ARM64 without a package of its own takes its patch, never another column's package.
    languages_[0].packageFiles[kColumnArm64] = nullptr;
    row_.operation = nullptr;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    ASSERT_EQ(sim.CallsNamed("MsiApplyPatchW").size(), 1u);
    EXPECT_TRUE(StartsWith(sim.CallsNamed("MsiApplyPatchW")[0],
                           "MsiApplyPatchW(\"C:\\Downloads\\AppArm.msp\""));
}

TEST_F(InstallPackageTest, ExpectedVersionsCompareIgnoringCaseUnderEnglishUs) {
    row_.expectedVersion = u"5.1b-RC";
    sim.AddPackage(u"C:\\Downloads\\App.msi", u"5.1B-rc", u"{CODE}");
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Installs(), Strings{kInstallApp});
    EXPECT_EQ(sim.CallsNamed("CompareStringW").back(),
              "CompareStringW(1033, 0x1, 5.1b-RC, -1, 5.1B-rc, 7)");
    // Letters that differ are a different version: the copy is not used (and there is no
    // download address).
    sim.AddPackage(u"C:\\Downloads\\App.msi", u"5.1c-rc", u"{CODE}");
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
}

TEST_F(InstallPackageTest, ATableWhoseFirstRowHasNoProductHandlesNoPackage) {
    rows_[0] = PackageEntry{u"https://r/", u"INSTALL", nullptr, nullptr, nullptr, 1, 3, languages_};
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    EXPECT_EQ(sim.CountCalls("CreateDialogParamW"), 1u);  // the progress window only
    // The engine was still bound, and the worker ended the run normally.
    EXPECT_NE(sim.IndexOf("GetProcAddress"), -1);
    EXPECT_EQ(sim.CallsNamed("GetMessageW"), Strings{"GetMessageW(quit)"});
}

TEST_F(InstallPackageTest, AdministrativeInstallsWithAndWithoutTarget) {
    const std::string admin = "MsiInstallProductW(\"C:\\Downloads\\App.msi\", \" ACTION=ADMIN";
    const std::string patch = "MsiApplyPatchW(\"C:\\Downloads\\App.msp\", ";
    auto calls = [&](const char16_t* arguments, const char* name) {
        EXPECT_EQ(Run(arguments), 0) << Utf8(arguments);
        return sim.CallsNamed(name);
    };
    EXPECT_EQ(calls(u"/a", "MsiInstallProductW"), Strings{admin + "\")"});
    EXPECT_EQ(calls(u"-A \"C:\\Some Dir\" ignored", "MsiInstallProductW"),
              Strings{admin + " TARGETDIR=\"C:\\Some Dir\"\")"});
    EXPECT_NE(calls(u"/a C:\\Some Dir", "MsiInstallProductW")[0].find("TARGETDIR=\"C:\\Some\"\")"),
              std::string::npos);
    // A patch gets the target as its product and a network image install type.
    languages_[0] = Language(1033, u"English", nullptr, u"App.msp");
    sim.files[u"C:\\Downloads\\App.msp"] = SimFile{};
    row_.operation = nullptr;
    EXPECT_EQ(calls(u"/a", "MsiApplyPatchW"),
              Strings{patch + "null, 1, \"REINSTALL=ALL REINSTALLMODE=omus\")"});
    EXPECT_TRUE(
        StartsWith(calls(u"/a \"D:\\Image\"", "MsiApplyPatchW")[0], patch + "\"D:\\Image\", 1"));
}

TEST_F(InstallPackageTest, AdminTargetRule) {
    const struct {
        const char16_t* arguments;
        DWORD result;
        const char16_t* target;
    } cases[] = {{u"/a", 0, nullptr},
                 {u"/a   ", 0, nullptr},
                 {u"/a \"C:\\Some Dir\"", 0, u"C:\\Some Dir"},
                 {u"/a C:\\Some Dir", 0, u"C:\\Some"},
                 {u"/a x\ty", 0, u"x"},
                 {u"/a \"", 0, u""},
                 {u"\"", 0, nullptr},
                 {u"", 160, nullptr},
                 {u" \t", 160, nullptr}};
    for (const auto& c : cases) {
        std::u16string buffer(c.arguments);
        const char16_t* target = u"unset";
        EXPECT_EQ(ParseAdminTarget(&buffer[0], &target), c.result) << Utf8(c.arguments);
        if (c.target)
            EXPECT_EQ(std::u16string(target), c.target);
        else
            EXPECT_EQ(target, nullptr);
    }
    const char16_t* target = u"unset";
    EXPECT_EQ(ParseAdminTarget(nullptr, &target), 160u);
}

TEST_F(InstallPackageTest, ADirectoryBesideTheSetupCountsAsPresent) {
    sim.packages.clear();
    sim.directories.insert(u"C:\\Downloads\\App.msi");
    EXPECT_EQ(Run(), 0);  // no version expected: handed to the engine as it lies
    EXPECT_EQ(sim.CountCalls("MsiOpenDatabaseW"), 0u);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
    row_.expectedVersion = u"1.0";
    EXPECT_EQ(Run(), 2);  // the version cannot be read, and there is no download address
    EXPECT_EQ(
        Boxes(),
        Strings{"Setup was unable to find the MSI package or patch 'C:\\Downloads\\App.msi'."});
}

TEST_F(InstallPackageTest, CancelBeforeTheFileIsChosen) {
    CancelAt("Please wait while");
    EXPECT_EQ(Run(), 1602);
    EXPECT_EQ(Boxes(), Strings{"Setup was cancelled."});
    EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(sim.CountCalls("GetFileAttributesW"), 0u);
}

TEST_F(InstallPackageTest, ConsentQuestionNamesTheProductTwice) {
    row_.askFirst = 1;
    sim.messageBoxAnswers = {IDNO};
    EXPECT_EQ(Run(), 0);  // skipped, which is success
    EXPECT_EQ(Boxes(),
              Strings{"This installation requires package 'App'. Do you wish to install it "
                      "now?\nIf you already installed 'App', you can choose 'No'."});
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    sim.messageBoxAnswers = {IDYES};
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
}

TEST_F(InstallPackageTest, RowsStopAtTheFirstFailureAndRowsWithoutLanguagesFailSilently) {
    row_.languages = nullptr;
    EXPECT_EQ(Run(), 160);
    EXPECT_TRUE(sim.messageBoxes.empty());
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 0u);
    row_.languages = languages_;
    rows_[1] = row_;
    config_.packages = rows_;
    sim.installResults = {1602};
    Run();  // rows_[0] is the same row: installed once, then the walk stops
    EXPECT_EQ(sim.CountCalls("MsiInstallProductW"), 1u);
}

TEST_F(InstallPackageTest, LanguageDialogPreselectsAndReturnsTheChosenRow) {
    languages_[0] = Language(1060, u"Slovenščina", u"App.sl.msi");
    languages_[1] = Language(1033, u"English", u"App.msi");
    sim.userLangId = 1033;
    HWND seen = nullptr;
    Strings shown;
    int selectedAtOpening = -2;
    sim.onModalDialog = [&](SimWindows& s, HWND dialog) {
        seen = dialog;
        auto& list = s.Control(dialog, IDC_LANGUAGE_LIST);
        for (const auto& item : list.items) shown.push_back(Utf8(item.text));
        selectedAtOpening = list.currentSelection;
        s.Click(dialog, IDOK);
    };
    EXPECT_EQ(Run(), 0);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(shown, (Strings{"English", "Slovenščina"}));
    EXPECT_EQ(selectedAtOpening, 0);
    EXPECT_TRUE(StartsWith(Installs()[0], kAppCall));
    EXPECT_EQ(theApp.currentLangId, 1033);
    // The dialog is owned by the progress window.
    EXPECT_TRUE(StartsWith(sim.CallsNamed("DialogBoxParamW")[0], "DialogBoxParamW(129, 0x"));
    // The user picks the other language.
    sim.onModalDialog = [](SimWindows& s, HWND dialog) {
        s.SelectItem(dialog, IDC_LANGUAGE_LIST, 1);
        s.Click(dialog, IDOK);
    };
    sim.AddPackage(u"C:\\Downloads\\App.sl.msi", u"1.0");
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(StartsWith(Installs()[0], kSlovenianCall));
    EXPECT_EQ(theApp.currentLangId, 1060);
}

TEST_F(InstallPackageTest, LanguageDialogCancelOrNoMatch) {
    languages_[0] = Language(1060, u"Slovenščina", u"App.sl.msi");
    languages_[1] = Language(1033, u"English", u"App.msi");
    sim.onModalDialog = [](SimWindows& s, HWND dialog) {
        s.SelectItem(dialog, IDC_LANGUAGE_LIST, 0);
        s.Click(dialog, IDCANCEL);
    };
    EXPECT_EQ(Run(), 1602);
    EXPECT_TRUE(sim.messageBoxes.empty());
    // No row matches the preselection: OK returns the first row of the list.
    sim.userLangId = 1031;
    sim.AddPackage(u"C:\\Downloads\\App.sl.msi", u"1.0");
    int selection = -2;
    sim.onModalDialog = [&](SimWindows& s, HWND dialog) {
        selection = s.Control(dialog, IDC_LANGUAGE_LIST).currentSelection;
        s.Click(dialog, IDOK);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(selection, -1);
    EXPECT_TRUE(StartsWith(Installs().back(), kSlovenianCall));
}

TEST_F(InstallPackageTest, EngineResultsAreReportedInTheEnginesWords) {
    sim.modules[u"c:\\windows\\system32\\msimsg.dll"].strings = {{1619, u"Cannot open %1."},
                                                                 {1605, u"Unknown product."}};
    const struct {
        UINT result;
        const char* message;
    } cases[] = {
        {3, "Cannot open %1."},
        {123, "Cannot open %1."},
        {1605, "Unknown product."},
        {1638, "An error occured installing the package. Windows Installer returned '1638'."},
        {1603, nullptr},
        {1602, nullptr},
        {1641, nullptr},
        {1259, nullptr},
        {1604, nullptr}};
    for (const auto& c : cases) {
        sim.installResults = {c.result};
        EXPECT_EQ(static_cast<UINT>(Run()), c.result);
        if (c.message) {
            EXPECT_EQ(Boxes(), Strings{c.message}) << c.result;
            EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_ICONERROR));
            EXPECT_EQ(sim.CallsNamed("LoadLibraryExW").back(),
                      "LoadLibraryExW(C:\\Windows\\system32\\msimsg.dll, null, 0x2)");
        } else {
            EXPECT_TRUE(sim.messageBoxes.empty()) << c.result;
        }
    }
    // Without the message library, the setup's own text names the code.
    sim.modules.erase(u"c:\\windows\\system32\\msimsg.dll");
    sim.installResults = {2};
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(
        Boxes(),
        Strings{"An error occured installing the package. Windows Installer returned '1619'."});
}
}  // namespace
