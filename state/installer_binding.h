// The Windows Installer engine, bound at run time: msi.dll and the eleven functions the
// package steps call.
#pragma once

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
