// The engine upgrade: whether the engine is too old, and bringing it up to the configured
// minimum with the Windows Installer redistributable.
#pragma once

#include "seam/win32_types.h"

class CKavrinApp;

// True when the engine on this machine is older than the minimum of `app.config`, or its
// version cannot be read.
bool InstallerNeedsUpgrade(const CKavrinApp& app);

// Brings the engine up to the configured minimum with the Windows Installer redistributable.
// 0: upgraded; 3010: upgraded, restart needed; anything else ends the run.
DWORD UpgradeInstaller(CKavrinApp& app);

// Runs the redistributable at `path` with its delayed-reboot option and gives its exit code,
// or an error of its own (14, 1603, or the system error of a failed start or wait).
DWORD RunInstMsi(const char16_t* path);
