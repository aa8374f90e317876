// The built-in configuration: Quorvex Lumora 5.1, in Slovenian, for x86, x64 and ARM64.
#include "vocabulary/setup_config.h"

namespace {

const LanguageEntry kLumoraLanguages[] = {
    {1060,
     u"Slovenščina",
     {nullptr, u"Lumora.Win32.msi", u"Lumora.x64.msi", u"Lumora.ARM64.msi"},
     {nullptr, nullptr, nullptr, nullptr}},
    {0, nullptr, {nullptr, nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr, nullptr}},
};

const PackageEntry kPackages[] = {
    {u"https://prenos.quorvex.com/prenos/?verzija=5.1&paket=", u"INSTALL", u"Quorvex Lumora",
     nullptr, u"5.1", 0, kUiLevelFull, kLumoraLanguages},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

}  // namespace

const SetupConfig setupConfig = {
    u"https://msi.quorvex.com/MSI/2.0/", u"InstMSIA.exe", u"InstMSIW.exe", 200, kPackages,
};
