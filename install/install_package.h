// InstallPackage: one row of the package table, from the user's consent to the engine's
// result.
#pragma once

#include "platform/owned_text.h"
#include "seam/win32_api.h"
#include "vocabulary/setup_config.h"

class CKavrinApp;
struct InstallerBinding;

// What the selection steps decide for one package, handed to the download and the engine call.
struct PackageChoice {
    const PackageEntry* row = nullptr;
    const LanguageEntry* language = nullptr;
    const char16_t* operation = nullptr;  // never null once chosen
    const char16_t* fileName = nullptr;   // from the tables, without a directory
    bool isPatch = false;
    const char16_t* adminTarget = nullptr;  // inside the command-line arguments; null: none
    bool reinstall = false;  // the operation asks for a reinstall of what is installed
    OwnedText packagePath;   // beside the executable, or the downloaded file in the cache
};

// Handles one row; 0 when it is done or was declined, otherwise the result that ends the run.
DWORD InstallPackage(CKavrinApp& app, const PackageEntry* row);

// Reads one value of a package's Property table with the bound engine: true with the text and
// its length, or false. `buffer` holds `capacity` characters.
bool ReadPackageProperty(const InstallerBinding& engine, const char16_t* packagePath,
                         const char16_t* query, char16_t* buffer, DWORD capacity, DWORD* length);

// Shows what the user must know of an engine result (at most one message).
void ReportInstallerResult(UINT result);

// The download steps: fetches and verifies the file when no usable copy lies beside the
// executable. 0 when `choice.packagePath` is ready for the engine.
DWORD DownloadPackage(CKavrinApp& app, PackageChoice& choice);

// The engine call for the chosen file, and the report of its result.
DWORD InvokeInstaller(CKavrinApp& app, const PackageChoice& choice);

extern const char16_t kProductVersionQuery[];
extern const char16_t kProductCodeQuery[];
