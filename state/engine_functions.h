// The Windows Installer engine's functions that the setup binds, as one list. The header is
// also C: text is KAVRIN_ENGINE_TEXT, char16_t unless the includer names another UTF-16
// character type (the engine shim's WCHAR).
#pragma once

// C includers bring the platform's types themselves (windows.h).
#ifdef __cplusplus
#include "seam/win32_types.h"
#endif

#ifndef KAVRIN_ENGINE_TEXT
#define KAVRIN_ENGINE_TEXT char16_t
#endif

typedef DWORD MSIHANDLE;

// The eleven engine functions, listed once: X(result, name, parameters, arguments). The binding
// (InstallerBinding), the simulated engine of the host tests and the Wine tests' engine shim
// (tests/wine/engine_shim.c, C compiled by mingw, whose forwarders pass the arguments on) are
// made from it.
//
// MsiReinstallProductW is bound but never called: a reinstall is asked for with the REINSTALL
// properties of MsiInstallProductW. It stays in the list because an engine is usable only
// with all eleven functions: one that lacks it is refused like any other incomplete engine.
#define KAVRIN_ENGINE_FUNCTIONS(X)                                                              \
    X(int, MsiSetInternalUI, (int level, HWND* owner), (level, owner))                          \
    X(UINT, MsiInstallProductW,                                                                 \
      (const KAVRIN_ENGINE_TEXT* package, const KAVRIN_ENGINE_TEXT* commandLine),               \
      (package, commandLine))                                                                   \
    X(UINT, MsiApplyPatchW,                                                                     \
      (const KAVRIN_ENGINE_TEXT* patch, const KAVRIN_ENGINE_TEXT* product, int installType,     \
       const KAVRIN_ENGINE_TEXT* commandLine),                                                  \
      (patch, product, installType, commandLine))                                               \
    X(UINT, MsiReinstallProductW, (const KAVRIN_ENGINE_TEXT* productCode, DWORD mode),          \
      (productCode, mode))                                                                      \
    X(int, MsiQueryProductStateW, (const KAVRIN_ENGINE_TEXT* productCode), (productCode))       \
    X(UINT, MsiOpenDatabaseW,                                                                   \
      (const KAVRIN_ENGINE_TEXT* path, const KAVRIN_ENGINE_TEXT* persist, MSIHANDLE* database), \
      (path, persist, database))                                                                \
    X(UINT, MsiDatabaseOpenViewW,                                                               \
      (MSIHANDLE database, const KAVRIN_ENGINE_TEXT* query, MSIHANDLE* view),                   \
      (database, query, view))                                                                  \
    X(UINT, MsiViewExecute, (MSIHANDLE view, MSIHANDLE record), (view, record))                 \
    X(UINT, MsiViewFetch, (MSIHANDLE view, MSIHANDLE * record), (view, record))                 \
    X(UINT, MsiRecordGetStringW,                                                                \
      (MSIHANDLE record, UINT field, KAVRIN_ENGINE_TEXT * buffer, DWORD * length),              \
      (record, field, buffer, length))                                                          \
    X(UINT, MsiCloseHandle, (MSIHANDLE handle), (handle))
