#include "download/download_and_verify.h"
#include "install/install_package.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "trust/signature.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

DWORD DownloadPackage(CKavrinApp& app, PackageChoice& choice) {
    if (!choice.row->downloadUrl) {
        ReportError(IDS_PACKAGE_NOT_FOUND, choice.packagePath.c_str());
        return kResultFileNotFound;
    }
    // Verified in this process, against the signer of the setup executable.
    const DownloadRequest request = {choice.row->downloadUrl, choice.fileName,
                                     IDS_DOWNLOADING_PACKAGE, IDS_PACKAGE_NOT_FOUND,
                                     &CompareSigners,         app.exePath.c_str()};
    return DownloadAndVerify(app.Progress(), &app.urlmon, request, &choice.packagePath);
}
