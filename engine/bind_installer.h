// Binding the Windows Installer engine: the step after the upgrade, before any package.
#pragma once

#include "seam/win32_types.h"

class CKavrinApp;

// Loads the engine (the registered "InstallerLocation" first, then the system directory)
// and binds its eleven functions into `app.engine`. 0, or 1603 after the IDS_UPGRADE_FAILED
// box.
DWORD BindInstaller(CKavrinApp& app);
