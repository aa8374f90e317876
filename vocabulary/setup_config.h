// The setup's whole configuration: constant tables fixed at build time. A different product
// or release is a different build of the tables source (see KAVRIN_TABLES in CMakeLists.txt).
#pragma once

#include "seam/win32_types.h"

// Columns of the file names: systems that are not NT, then the native processors.
enum FileColumn {
    kColumnNonNt = 0,
    kColumnX86 = 1,
    kColumnX64 = 2,
    kColumnArm64 = 3,
    kColumnCount = 4
};

// The engine's user interface for a package (uiLevel), as MsiSetInternalUI takes it: the
// INSTALLUILEVEL values.
enum UiLevel : LONG {
    kUiLevelNone = 2,     // INSTALLUILEVEL_NONE: nothing shown
    kUiLevelBasic = 3,    // INSTALLUILEVEL_BASIC: progress only
    kUiLevelReduced = 4,  // INSTALLUILEVEL_REDUCED
    kUiLevelFull = 5,     // INSTALLUILEVEL_FULL: the package's own dialogs
};

// One language in which a package is offered. A row with langId 0 ends a list.
struct LanguageEntry {
    LANGID langId;
    const char16_t* languageName;
    const char16_t* packageFiles[kColumnCount];  // .msi by column; null: none
    const char16_t* patchFiles[kColumnCount];    // .msp by column; null: none
};

// One product to install, in table order. A row with a null productName ends the table.
struct PackageEntry {
    const char16_t* downloadUrl;  // prefix the file name is appended to; null: never downloaded
    const char16_t* operation;    // INSTALL, INSTALLUPD, MINPATCH, MAJPATCH, DEFAULT; null: DEFAULT
    const char16_t* productName;
    const char16_t* properties;       // replaces the reinstall properties when present
    const char16_t* expectedVersion;  // ProductVersion a local copy must carry; null: any copy
    LONG askFirst;                    // non-zero: ask before handling the package
    LONG uiLevel;                     // a UiLevel, passed to MsiSetInternalUI
    const LanguageEntry* languages;
};

struct SetupConfig {
    const char16_t* redistBaseUrl;  // the redistributable's file name is appended to it
    const char16_t* redistNonNtFile;
    const char16_t* redistNtFile;
    DWORD minEngineVersion;  // major * 100 + minor
    const PackageEntry* packages;
};

// The built-in configuration.
extern const SetupConfig setupConfig;
