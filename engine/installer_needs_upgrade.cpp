#include "engine/installer_location.h"
#include "engine/upgrade_installer.h"
#include "platform/path_size.h"
#include "platform/system_library.h"
#include "probes/probes.h"
#include "state/kavrin_app.h"
#include "vocabulary/setup_config.h"

bool InstallerNeedsUpgrade(const CKavrinApp& app) {
    OwnedText path = RegisteredEnginePath();
    if (path.empty()) {
        // The engine the system would load: the one in the system directory.
        ModuleRef msi(LoadSystemLibrary(u"msi.dll"));
        if (msi) {
            char16_t buffer[kPathBufferSize];
            DWORD length = Api().GetModuleFileNameW(msi.get(), buffer, kPathBufferSize);
            if (length != 0 && length < kPathBufferSize) path.Assign(buffer, length);
        }
    }
    if (path.empty()) return true;

    DWORD version = 0;
    if (GetFileVersionMS(path.c_str(), &version) != 0) return true;
    return VersionNumber(version) < app.config->minEngineVersion;
}
