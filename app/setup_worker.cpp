#include "app/setup_worker.h"

#include "engine/bind_installer.h"
#include "engine/upgrade_installer.h"
#include "install/install_package.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

// The engine upgrade step: 0 to go on (restartPending set after 3010), else the result.
DWORD UpgradeStep(CKavrinApp& app) {
    if (!InstallerNeedsUpgrade(app)) return 0;
    if (!app.isAdmin) {
        ShowMessage(IDS_ADMIN_REQUIRED, MB_ICONERROR);
        return kResultInstallFailure;
    }
    if (ShowMessage(IDS_UPGRADE_PROMPT, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        ShowMessage(IDS_CANCELLED, MB_ICONWARNING);
        return kResultCancelled;
    }
    DWORD result = UpgradeInstaller(app);
    if (result == kResultRebootRequired) {
        app.restartPending = TRUE;
        return 0;
    }
    return result;
}

// Every step reaches the application state through `app`; only the thread procedure names
// theApp.
DWORD RunSetup(CKavrinApp& app) {
    DWORD result = UpgradeStep(app);
    if (result != 0) return result;
    result = BindInstaller(app);
    if (result != 0) return result;
    // Any non-zero result stops the walk, the engine's restart codes included.
    for (const PackageEntry* row = app.config->packages; row->productName; ++row) {
        result = InstallPackage(app, row);
        if (result != 0) return result;
    }
    return 0;
}

}  // namespace

DWORD WINAPI SetupWorker(LPVOID) {
    DWORD result = RunSetup(theApp);
    Api().PostThreadMessageW(theApp.m_nThreadID, WM_QUIT, 0, 0);
    return result;
}
