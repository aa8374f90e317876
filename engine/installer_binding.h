// The Windows Installer engine, bound at run time: msi.dll and the eleven functions the
// package steps call.
#pragma once

#include "fw/owned_text.h"
#include "seam/win32_api.h"

typedef DWORD MSIHANDLE;

// INSTALLSTATE values relied on.
enum { kInstallStateAdvertised = 1, kInstallStateDefault = 5 };
// INSTALLTYPE values for MsiApplyPatchW.
enum { kInstallTypeDefault = 0, kInstallTypeNetworkImage = 1 };
// MSIDBOPEN_READONLY, a persist mode given as a pointer value.
#define KAVRIN_MSIDBOPEN_READONLY (static_cast<const char16_t*>(nullptr))

struct InstallerBinding {
    HMODULE module = nullptr;
    int(WINAPI* MsiSetInternalUI)(int level, HWND* owner) = nullptr;
    UINT(WINAPI* MsiInstallProductW)
    (const char16_t* package, const char16_t* commandLine) = nullptr;
    UINT(WINAPI* MsiApplyPatchW)
    (const char16_t* patch, const char16_t* product, int installType,
     const char16_t* commandLine) = nullptr;
    UINT(WINAPI* MsiReinstallProductW)(const char16_t* productCode, DWORD mode) = nullptr;
    int(WINAPI* MsiQueryProductStateW)(const char16_t* productCode) = nullptr;
    UINT(WINAPI* MsiOpenDatabaseW)
    (const char16_t* path, const char16_t* persist, MSIHANDLE* database) = nullptr;
    UINT(WINAPI* MsiDatabaseOpenViewW)
    (MSIHANDLE database, const char16_t* query, MSIHANDLE* view) = nullptr;
    UINT(WINAPI* MsiViewExecute)(MSIHANDLE view, MSIHANDLE record) = nullptr;
    UINT(WINAPI* MsiViewFetch)(MSIHANDLE view, MSIHANDLE* record) = nullptr;
    UINT(WINAPI* MsiRecordGetStringW)
    (MSIHANDLE record, UINT field, char16_t* buffer, DWORD* length) = nullptr;
    UINT(WINAPI* MsiCloseHandle)(MSIHANDLE handle) = nullptr;
};

// The engine's registry key under HKEY_LOCAL_MACHINE, and the value naming its directory.
extern const char16_t kInstallerKey[];
extern const char16_t kInstallerLocationValue[];

// Loads the engine (the registered "InstallerLocation" first, then the system directory)
// and binds its eleven functions into theApp. 0, or 1603 after the IDS_UPGRADE_FAILED box.
DWORD BindInstaller();

// Reads "InstallerLocation" from an open key as a string, tolerating badly stored values.
// True when a string (possibly empty) was read; on failure `location` is left empty.
bool ReadInstallerLocation(HKEY key, OwnedText* location);

// The engine path the registry names: "InstallerLocation" followed by "\msi.dll", or empty
// when the key or value cannot be read, or the value is empty or not an absolute path (a
// drive letter and a backslash, or two backslashes).
OwnedText RegisteredEnginePath();

// True when the engine on this machine is older than the configured minimum, or its
// version cannot be read.
bool InstallerNeedsUpgrade();

// Brings the engine up to the configured minimum with the Windows Installer redistributable.
// 0: upgraded; 3010: upgraded, restart needed; anything else ends the run.
DWORD UpgradeInstaller();

// Runs the redistributable at `path` with its delayed-reboot option and gives its exit code,
// or an error of its own (14, 1603, or the system error of a failed start or wait).
DWORD RunInstMsi(const char16_t* path);
