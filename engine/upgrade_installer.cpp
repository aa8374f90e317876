#include "engine/upgrade_installer.h"
#include "download/download_and_verify.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "trust/verify_child.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

const char16_t kInstMsiOptions[] = u" /c:\"msiinst /delayreboot\"";

}  // namespace

DWORD RunInstMsi(const char16_t* path) {
    DWORD length = static_cast<DWORD>(Api().lstrlenW(path)) +
                   static_cast<DWORD>(Api().lstrlenW(kInstMsiOptions)) + 3;
    const char16_t* const pieces[] = {u"\"", path, u"\"", kInstMsiOptions};
    return RunChildOfPieces(pieces, 4, length);
}

DWORD UpgradeInstaller(CKavrinApp& app) {
    const char16_t* fileName = app.config->redistNonNtFile;
    if (!app.notNt) {
        if (GetNativeMachine() != IMAGE_FILE_MACHINE_I386) return kResultPlatformUnsupported;
        fileName = app.config->redistNtFile;
    }

    // A copy beside the setup is used as it lies, without verification.
    OwnedText path;
    if (!path.Assign(app.exeDir.c_str()) || !path.Append(fileName)) return ReportOutOfMemory();
    if (Api().GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Verified by a child copy of the setup (the /v mode), against its own signer.
        const DownloadRequest request = {app.config->redistBaseUrl, fileName,
                                         IDS_DOWNLOADING_INSTMSI,   IDS_INSTMSI_NOT_FOUND,
                                         &VerifyInChildCopy,        app.exePath.c_str()};
        DWORD result = DownloadAndVerify(app.Progress(), &app.urlmon, request, &path);
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
            return ReportCancelled();
        case ERROR_FILE_NOT_FOUND:
            ReportError(IDS_INSTMSI_NOT_FOUND, path.c_str());
            return kResultFileNotFound;
        default:
            ShowMessage(IDS_UPGRADE_FAILED, MB_ICONERROR);
            return status;
    }
}
