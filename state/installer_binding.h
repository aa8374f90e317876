// The Windows Installer engine, bound at run time: msi.dll and the eleven functions the
// package steps call.
#pragma once

#include "seam/win32_api.h"

#include "state/engine_functions.h"

// INSTALLSTATE values relied on.
enum { kInstallStateAdvertised = 1, kInstallStateDefault = 5 };
// INSTALLTYPE values for MsiApplyPatchW.
enum { kInstallTypeDefault = 0, kInstallTypeNetworkImage = 1 };
// MSIDBOPEN_READONLY, a persist mode given as a pointer value.
#define KAVRIN_MSIDBOPEN_READONLY (static_cast<const char16_t*>(nullptr))

struct InstallerBinding {
    HMODULE module = nullptr;
#define KAVRIN_ENGINE_FIELD(result, name, parameters, arguments) \
    result(WINAPI* name) parameters = nullptr;
    KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_FIELD)
#undef KAVRIN_ENGINE_FIELD
};
