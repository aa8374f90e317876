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

// The eleven engine functions, listed once: X(result, name, parameters). The binding, the
// simulated engine of the host tests and the Wine tests' engine shim are made from it.
//
// MsiReinstallProductW is bound but never called: a reinstall is asked for with the REINSTALL
// properties of MsiInstallProductW. It stays in the list because an engine is usable only
// with all eleven functions: one that lacks it is refused like any other incomplete engine.
#define KAVRIN_ENGINE_FUNCTIONS(X)                                                                \
    X(int, MsiSetInternalUI, (int level, HWND* owner))                                            \
    X(UINT, MsiInstallProductW, (const char16_t* package, const char16_t* commandLine))           \
    X(UINT, MsiApplyPatchW,                                                                       \
      (const char16_t* patch, const char16_t* product, int installType,                           \
       const char16_t* commandLine))                                                              \
    X(UINT, MsiReinstallProductW, (const char16_t* productCode, DWORD mode))                      \
    X(int, MsiQueryProductStateW, (const char16_t* productCode))                                  \
    X(UINT, MsiOpenDatabaseW,                                                                     \
      (const char16_t* path, const char16_t* persist, MSIHANDLE* database))                       \
    X(UINT, MsiDatabaseOpenViewW, (MSIHANDLE database, const char16_t* query, MSIHANDLE* view))   \
    X(UINT, MsiViewExecute, (MSIHANDLE view, MSIHANDLE record))                                   \
    X(UINT, MsiViewFetch, (MSIHANDLE view, MSIHANDLE * record))                                   \
    X(UINT, MsiRecordGetStringW, (MSIHANDLE record, UINT field, char16_t* buffer, DWORD* length)) \
    X(UINT, MsiCloseHandle, (MSIHANDLE handle))

struct InstallerBinding {
    HMODULE module = nullptr;
#define KAVRIN_ENGINE_FIELD(result, name, parameters) result(WINAPI* name) parameters = nullptr;
    KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_FIELD)
#undef KAVRIN_ENGINE_FIELD
};
