#include "engine/bind_installer.h"
#include "engine/installer_location.h"
#include "platform/system_library.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

// Every function of the list, in its order; false at the first one the engine lacks.
bool BindFunctions(InstallerBinding& engine) {
    HMODULE m = engine.module;
#define KAVRIN_ENGINE_BIND(result, name, parameters, arguments) \
    engine.name = FindExport<decltype(engine.name)>(m, #name);  \
    if (!engine.name) return false;
    KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_BIND)
#undef KAVRIN_ENGINE_BIND
    return true;
}

}  // namespace

DWORD BindInstaller(CKavrinApp& app) {
    InstallerBinding& engine = app.engine;

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
