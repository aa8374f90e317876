#include "app/result_codes.h"
#include "engine/installer_binding.h"
#include "res/resource.h"
#include "ui/messages.h"

// Fetching and running the redistributable is not available in this build: the upgrade
// fails with its own message, and the run ends without touching the engine.
DWORD UpgradeInstaller() {
    ShowMessage(IDS_UPGRADE_FAILED, MB_ICONERROR);
    return kResultInstallFailure;
}
