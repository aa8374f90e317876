#include "app/kavrin_app.h"
#include "app/result_codes.h"
#include "install/install_package.h"
#include "res/resource.h"
#include "ui/messages.h"

DWORD DownloadPackage(CKavrinApp&, PackageChoice& choice) {
    if (!choice.row->downloadUrl) {
        ReportError(IDS_PACKAGE_NOT_FOUND, choice.packagePath.c_str());
        return kResultFileNotFound;
    }
    // Downloads are not built yet: report the package as not found at its address.
    OwnedText url;
    if (!url.Assign(choice.row->downloadUrl) || !url.Append(choice.fileName)) {
        ShowMessage(IDS_OUT_OF_MEMORY, MB_ICONERROR);
        return ERROR_OUTOFMEMORY;
    }
    ReportError(IDS_PACKAGE_NOT_FOUND, url.c_str());
    return kResultFileNotFound;
}
