#include <stdlib.h>

#include "app/kavrin_app.h"
#include "app/result_codes.h"
#include "engine/installer_binding.h"
#include "fw/url_download.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "trust/verify_child.h"
#include "ui/messages.h"

namespace {

const char16_t kInstMsiOptions[] = u" /c:\"msiinst /delayreboot\"";

DWORD Cancelled() {
    ShowMessage(IDS_CANCELLED, MB_ICONWARNING);
    return kResultCancelled;
}

// Fetches the redistributable and has a child copy of the setup verify it; 0 with its cache
// path, or the result that ends the upgrade (its message shown).
DWORD DownloadAndVerify(CKavrinApp& app, const char16_t* fileName, OwnedText* path) {
    OwnedText url;
    if (!url.Assign(app.config->redistBaseUrl) || !url.Append(fileName)) {
        ShowMessage(IDS_OUT_OF_MEMORY, MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    OwnedText status = LoadText(IDS_DOWNLOADING_INSTMSI);
    app.progress.SetStatusText(status.c_str());
    if (app.progress.CancelRequested()) return Cancelled();

    HRESULT result = DownloadToCache(&app.urlmon, url.c_str(), app.progress.Callback(), path);
    if (app.progress.CancelRequested()) return Cancelled();
    if (result < 0 || path->empty()) {
        ReportError(IDS_INSTMSI_NOT_FOUND, url.c_str());
        return kResultFileNotFound;
    }

    status = FormatById(IDS_VERIFYING_SIGNATURE, fileName);
    app.progress.SetStatusText(status.c_str());
    if (app.progress.CancelRequested()) return Cancelled();

    DWORD verdict = VerifyInChildProcess(app.exePath.c_str(), path->c_str());
    if (verdict == kVerifyNotAvailable) {
        ShowMessage(IDS_NO_SIGNATURE_SUPPORT, MB_ICONERROR);
        return kResultCannotVerify;
    }
    if (verdict != 0) {
        ReportError(IDS_NOT_TRUSTED, path->c_str());
        return kResultNotTrusted;
    }
    return 0;
}

}  // namespace

DWORD RunInstMsi(const char16_t* path) {
    DWORD length = static_cast<DWORD>(Api().lstrlenW(path)) +
                   static_cast<DWORD>(Api().lstrlenW(kInstMsiOptions)) + 3;
    const char16_t* const pieces[] = {u"\"", path, u"\"", kInstMsiOptions};
    char16_t* commandLine = nullptr;
    DWORD result = ComposeCommandLine(pieces, 4, length, &commandLine);
    if (result != 0) return result;
    DWORD exitCode = 0;
    result = RunChildProcess(commandLine, &exitCode);
    free(commandLine);
    return result != 0 ? result : exitCode;
}

DWORD UpgradeInstaller() {
    CKavrinApp& app = theApp;
    const char16_t* fileName = app.config->redistNonNtFile;
    if (!app.notNt) {
        if (GetNativeMachine() != IMAGE_FILE_MACHINE_I386) return kResultPlatformUnsupported;
        fileName = app.config->redistNtFile;
    }

    // A copy beside the setup is used as it lies, without verification.
    OwnedText path;
    if (!path.Assign(app.exeDir.c_str()) || !path.Append(fileName)) {
        ShowMessage(IDS_OUT_OF_MEMORY, MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    if (Api().GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD result = DownloadAndVerify(app, fileName, &path);
        if (result != 0) return result;
    }

    DWORD version = 0;
    if (GetFileVersionMS(path.c_str(), &version) != 0 || VersionNumber(version) - 1000u < 200u) {
        ReportError(IDS_INVALID_INSTMSI, path.c_str());
        return kResultInvalidParameter;
    }

    DWORD status = RunInstMsi(path.c_str());
    switch (status) {
        case 0:
        case ERROR_SUCCESS_REBOOT_INITIATED:
        case ERROR_SUCCESS_REBOOT_REQUIRED:
            return status;
        case kResultCancelled:
            return Cancelled();
        case ERROR_FILE_NOT_FOUND:
            ReportError(IDS_INSTMSI_NOT_FOUND, path.c_str());
            return kResultFileNotFound;
        default:
            ShowMessage(IDS_UPGRADE_FAILED, MB_ICONERROR);
            return status;
    }
}
