// The worked example of docs/RELEASING.md: "Halvard Orbina" 3.2 in German and French for
// x86, x64 and ARM64, then the 3.2.1 patch for each processor.
//
//   make release TABLES=docs/examples/orbina_tables.cpp CERT=chain.pem KEY=key.pem
#include "vocabulary/setup_config.h"

namespace {

// Row 1: the product. Two languages, so the setup asks which one (German preselected for
// a German user, French for a French one, else the first row the dialog lists).
const LanguageEntry kOrbinaLanguages[] = {
    {1031,  // 0x0407 German (Germany)
     u"Deutsch",
     {nullptr, u"Orbina-3.2-de.x86.msi", u"Orbina-3.2-de.x64.msi", u"Orbina-3.2-de.arm64.msi"},
     {nullptr, nullptr, nullptr, nullptr}},
    {1036,  // 0x040C French (France)
     u"Fran\u00e7ais",
     {nullptr, u"Orbina-3.2-fr.x86.msi", u"Orbina-3.2-fr.x64.msi", u"Orbina-3.2-fr.arm64.msi"},
     {nullptr, nullptr, nullptr, nullptr}},
    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},
};

// Row 2: one patch per processor, for both languages: no package files, so the patch
// column is taken and the file is applied as a patch. One language row: no question.
const LanguageEntry kPatchLanguages[] = {
    {1033,  // 0x0409 English (United States): only the preselection of later rows sees it
     u"English",
     {nullptr, nullptr, nullptr, nullptr},
     {nullptr, u"Orbina-3.2.1.x86.msp", u"Orbina-3.2.1.x64.msp", u"Orbina-3.2.1.arm64.msp"}},
    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},
};

const PackageEntry kPackages[] = {
    // downloadUrl, operation, productName, properties, expectedVersion, askFirst, uiLevel
    {u"https://download.halvard.example/orbina/3.2/", u"INSTALL", u"Halvard Orbina", nullptr,
     u"3.2", 0, 5 /* INSTALLUILEVEL_FULL */, kOrbinaLanguages},
    {u"https://download.halvard.example/orbina/3.2/", u"MINPATCH", u"Halvard Orbina 3.2.1",
     nullptr, nullptr /* a patch has no ProductVersion: any copy beside the setup is used */, 0,
     3 /* INSTALLUILEVEL_BASIC */, kPatchLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

}  // namespace

const SetupConfig setupConfig = {
    u"https://download.halvard.example/msi/2.0/", u"InstMSIA.exe", u"InstMSIW.exe", 200,
    kPackages,
};
