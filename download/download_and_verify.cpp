#include "download/download_and_verify.h"

#include "platform/url_download.h"
#include "res/resource.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

DWORD DownloadAndVerify(ProgressView& progress, HMODULE* urlmon, const DownloadRequest& request,
                        OwnedText* path) {
    OwnedText url;
    if (!url.Assign(request.urlPrefix) || !url.Append(request.fileName)) return ReportOutOfMemory();

    OwnedText status = FormatById(request.downloadingId, request.fileName);
    progress.SetStatusText(status.c_str());
    if (progress.CancelRequested()) return ReportCancelled();

    HRESULT result = DownloadToCache(urlmon, url.c_str(), progress.Callback(), path);
    // A transfer the user aborted is a cancellation, never a missing file.
    if (progress.CancelRequested()) return ReportCancelled();
    if (result < 0 || path->empty()) {
        ReportError(request.notFoundId, url.c_str());
        return kResultFileNotFound;
    }

    status = FormatById(IDS_VERIFYING_SIGNATURE, request.fileName);
    progress.SetStatusText(status.c_str());
    if (progress.CancelRequested()) return ReportCancelled();

    return AcceptVerdict(
        request.verify(request.referencePath, path->c_str(), progress.OwnerWindow()),
        path->c_str());
}

DWORD AcceptVerdict(int verdict, const char16_t* path) {
    switch (verdict) {
        case kTrusted:
            return 0;
        case kTrustNotAvailable:
            ShowMessage(IDS_NO_SIGNATURE_SUPPORT, MB_ICONERROR);
            return kResultCannotVerify;
        default:
            // Only a verdict of "trusted" lets a downloaded file run; anything else, an
            // unexpected value included, is refused.
            ReportError(IDS_NOT_TRUSTED, path);
            return kResultNotTrusted;
    }
}
