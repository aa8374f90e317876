#include "install/install_package.h"
#include "platform/system_library.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

const char16_t kReinstallPackage[] = u"REINSTALL=ALL REINSTALLMODE=vomus";
const char16_t kReinstallPatch[] = u"REINSTALL=ALL REINSTALLMODE=omus";

// A reinstall is asked for only when the product is installed or advertised already.
bool ProductIsPresent(const InstallerBinding& engine, const char16_t* packagePath) {
    char16_t productCode[40];
    DWORD length = 0;
    if (!ReadPackageProperty(engine, packagePath, kProductCodeQuery, productCode, 40, &length))
        return false;
    int state = engine.MsiQueryProductStateW(productCode);
    return state == kInstallStateAdvertised || state == kInstallStateDefault;
}

UINT ApplyPatch(const CKavrinApp& app, const PackageChoice& choice) {
    const char16_t* commandLine = choice.row->properties;
    if (!commandLine && choice.reinstall) commandLine = kReinstallPatch;
    if (app.mode == kModeAdmin)
        return app.engine.MsiApplyPatchW(choice.packagePath.c_str(), choice.adminTarget,
                                         kInstallTypeNetworkImage, commandLine);
    return app.engine.MsiApplyPatchW(choice.packagePath.c_str(), nullptr, kInstallTypeDefault,
                                     commandLine);
}

// The command line of a package install: the row's properties, or the reinstall properties
// when the product is to be reinstalled, or nothing; then the administrative additions. False
// when out of memory.
bool ComposePackageCommandLine(const CKavrinApp& app, const PackageChoice& choice,
                               bool reinstallProduct, OwnedText* commandLine) {
    const char16_t* base = choice.row->properties ? choice.row->properties
                           : reinstallProduct     ? kReinstallPackage
                                                  : u"";
    bool ok = commandLine->Assign(base);
    if (ok && app.mode == kModeAdmin) {
        ok = commandLine->Append(u" ACTION=ADMIN");
        if (ok && choice.adminTarget)
            ok = commandLine->Append(u" TARGETDIR=\"") && commandLine->Append(choice.adminTarget) &&
                 commandLine->Append(u"\"");
    }
    return ok;
}

}  // namespace

DWORD InvokeInstaller(CKavrinApp& app, const PackageChoice& choice) {
    app.Progress().HideWindow();
    app.engine.MsiSetInternalUI(choice.row->uiLevel, nullptr);

    UINT result;
    if (choice.isPatch) {
        result = ApplyPatch(app, choice);
    } else {
        // The operation's reinstall applies only to a product that is here already.
        bool reinstallProduct =
            choice.reinstall && ProductIsPresent(app.engine, choice.packagePath.c_str());
        OwnedText commandLine;
        if (!ComposePackageCommandLine(app, choice, reinstallProduct, &commandLine))
            return ReportOutOfMemory();
        result = app.engine.MsiInstallProductW(choice.packagePath.c_str(), commandLine.c_str());
    }
    ReportInstallerResult(result);
    return result;
}

void ReportInstallerResult(UINT result) {
    switch (result) {
        case kResultSuccess:
        case kEngineUserExit:
        case kEngineFailure:
        case kEngineSuspended:
        case kEngineRebootInitiated:
        case kEngineRebootRequired:
        case kEngineAppHelpBlock:
            return;
        default:
            break;
    }
    // A package that cannot be opened under that name or path gets the engine's words for
    // "cannot open the package".
    UINT code = (result == kEngineFileNotFound || result == kEnginePathNotFound ||
                 result == kEngineInvalidName)
                    ? static_cast<UINT>(kEnginePackageOpenFailed)
                    : result;

    ModuleRef messages(LoadSystemLibraryAsData(u"msimsg.dll"));
    if (messages) {
        char16_t text[1024];
        int length =
            Api().LoadStringW(reinterpret_cast<HINSTANCE>(messages.get()), code, text, 1024);
        if (length > 0) {
            ShowMessageText(text, MB_ICONERROR);
            return;
        }
    }
    messages.Reset();
    ReportError(IDS_INSTALL_ERROR, static_cast<int>(code));
}
