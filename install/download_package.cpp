#include "install/install_package.h"
#include "platform/url_download.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "trust/signature.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

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

    HRESULT result = DownloadToCache(url.c_str(), app.progress.Callback(), &choice.packagePath);
    // A transfer the user aborted is a cancellation, never a missing package.
    if (app.progress.CancelRequested()) return Cancelled();
    if (result < 0 || choice.packagePath.empty()) {
        ReportError(IDS_PACKAGE_NOT_FOUND, url.c_str());
        return kResultFileNotFound;
    }

    status = FormatById(IDS_VERIFYING_SIGNATURE, choice.fileName);
    app.progress.SetStatusText(status.c_str());
    if (app.progress.CancelRequested()) return Cancelled();

    switch (CompareSigners(app.exePath.c_str(), choice.packagePath.c_str(), app.progress.m_hWnd)) {
        case kTrustNotAvailable:
            ShowMessage(IDS_NO_SIGNATURE_SUPPORT, MB_ICONERROR);
            return kResultCannotVerify;
        case kNotTrusted:
            ReportError(IDS_NOT_TRUSTED, choice.packagePath.c_str());
            return kResultNotTrusted;
        default:
            return 0;
    }
}
