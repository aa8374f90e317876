#include "engine/bind_installer.h"
#include "engine/installer_location.h"
#include "platform/system_library.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn* field) {
    *field = reinterpret_cast<Fn>(reinterpret_cast<void*>(Api().GetProcAddress(module, name)));
    return *field != nullptr;
}

bool BindFunctions(InstallerBinding& engine) {
    HMODULE m = engine.module;
    return Bind(m, "MsiSetInternalUI", &engine.MsiSetInternalUI) &&
           Bind(m, "MsiInstallProductW", &engine.MsiInstallProductW) &&
           Bind(m, "MsiApplyPatchW", &engine.MsiApplyPatchW) &&
           Bind(m, "MsiReinstallProductW", &engine.MsiReinstallProductW) &&
           Bind(m, "MsiQueryProductStateW", &engine.MsiQueryProductStateW) &&
           Bind(m, "MsiOpenDatabaseW", &engine.MsiOpenDatabaseW) &&
           Bind(m, "MsiDatabaseOpenViewW", &engine.MsiDatabaseOpenViewW) &&
           Bind(m, "MsiViewExecute", &engine.MsiViewExecute) &&
           Bind(m, "MsiViewFetch", &engine.MsiViewFetch) &&
           Bind(m, "MsiRecordGetStringW", &engine.MsiRecordGetStringW) &&
           Bind(m, "MsiCloseHandle", &engine.MsiCloseHandle);
}

}  // namespace

DWORD BindInstaller() {
    InstallerBinding& engine = theApp.engine;

    OwnedText registered = RegisteredEnginePath();
    if (!registered.empty())
        engine.module =
            Api().LoadLibraryExW(registered.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);

    // Without a usable registration the engine comes from the system directory, never from
    // the library search path, which would start in the (download) folder of the setup.
    if (!engine.module) engine.module = LoadSystemLibrary(u"msi.dll");

    if (engine.module && BindFunctions(engine)) return 0;
    ShowMessage(IDS_UPGRADE_FAILED, MB_ICONERROR);
    return kResultInstallFailure;
}
