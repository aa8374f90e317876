#include "app/kavrin_app.h"
#include "app/result_codes.h"
#include "fw/url_download.h"
#include "install/install_package.h"
#include "res/resource.h"
#include "trust/signature.h"
#include "ui/messages.h"

namespace {
DWORD Cancelled() {
    ShowMessage(IDS_CANCELLED, MB_ICONWARNING);
    return kResultCancelled;
}
}  // namespace

DWORD DownloadPackage(CKavrinApp& app, PackageChoice& choice) {
    if (!choice.row->downloadUrl) {
        ReportError(IDS_PACKAGE_NOT_FOUND, choice.packagePath.c_str());
        return kResultFileNotFound;
    }
    // The address is the prefix followed directly by the file name, nothing escaped.
    OwnedText url;
    if (!url.Assign(choice.row->downloadUrl) || !url.Append(choice.fileName)) {
        ShowMessage(IDS_OUT_OF_MEMORY, MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }

    OwnedText status = FormatById(IDS_DOWNLOADING_PACKAGE, choice.fileName);
    app.progress.SetStatusText(status.c_str());
    if (app.progress.CancelRequested()) return Cancelled();

    HRESULT result =
        DownloadToCache(&app.urlmon, url.c_str(), app.progress.Callback(), &choice.packagePath);
    // A transfer the user aborted is a cancellation, never a missing package.
    if (app.progress.CancelRequested()) return Cancelled();
    if (result < 0 || choice.packagePath.empty()) {
        ReportError(IDS_PACKAGE_NOT_FOUND, url.c_str());
        return kResultFileNotFound;
    }

    status = FormatById(IDS_VERIFYING_SIGNATURE, choice.fileName);
    app.progress.SetStatusText(status.c_str());
    if (app.progress.CancelRequested()) return Cancelled();

    return AcceptVerdict(
        CompareSigners(app.exePath.c_str(), choice.packagePath.c_str(), app.progress.m_hWnd),
        choice);
}

DWORD AcceptVerdict(int verdict, const PackageChoice& choice) {
    switch (verdict) {
        case kTrusted:
            return 0;
        case kTrustNotAvailable:
            ShowMessage(IDS_NO_SIGNATURE_SUPPORT, MB_ICONERROR);
            return kResultCannotVerify;
        default:
            // Only a verdict of "trusted" lets a downloaded file run; anything else, an
            // unexpected value included, is refused.
            ReportError(IDS_NOT_TRUSTED, choice.packagePath.c_str());
            return kResultNotTrusted;
    }
}
