#include "install/install_package.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "state/kavrin_app.h"
#include "ui/language_dialog.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

namespace {

const LCID kEnglishUs = 1033;

// An operation keyword accepted for one kind of file, and whether it asks for a reinstall of
// what is installed. Each list is tested in its order.
struct OperationKeyword {
    const char16_t* keyword;
    bool reinstall;
};
const OperationKeyword kPatchOperations[] = {
    {u"MINPATCH", true}, {u"MAJPATCH", false}, {u"DEFAULT", true}};
const OperationKeyword kPackageOperations[] = {
    {u"INSTALL", false}, {u"INSTALLUPD", true}, {u"DEFAULT", false}};

// The first entry of the file kind's list that `keyword` matches, or null.
const OperationKeyword* AcceptedOperation(const char16_t* keyword, bool isPatch) {
    for (const OperationKeyword& accepted : isPatch ? kPatchOperations : kPackageOperations)
        if (Api().CompareStringW(kEnglishUs, NORM_IGNORECASE, keyword, -1, accepted.keyword, -1) ==
            CSTR_EQUAL)
            return &accepted;
    return nullptr;
}

// The file of this machine's column, or null. No other column is ever tried.
const char16_t* FileForThisMachine(const char16_t* const (&files)[kColumnCount], bool notNt) {
    if (notNt) return files[kColumnNonNt];
    switch (GetNativeMachine()) {
        case IMAGE_FILE_MACHINE_I386:
            return files[kColumnX86];
        case IMAGE_FILE_MACHINE_AMD64:
            return files[kColumnX64];
        case IMAGE_FILE_MACHINE_ARM64:
            return files[kColumnArm64];
        default:
            return nullptr;
    }
}

// The local copy is used when it carries the expected ProductVersion (or any copy when no
// version is expected); a directory of that name counts as present.
bool LocalCopyIsUsable(const InstallerBinding& engine, const PackageChoice& choice) {
    if (Api().GetFileAttributesW(choice.packagePath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    const char16_t* expected = choice.row->expectedVersion;
    if (!expected) return true;
    char16_t version[16];
    DWORD length = 0;
    if (!ReadPackageProperty(engine, choice.packagePath.c_str(), kProductVersionQuery, version, 16,
                             &length))
        return false;
    return Api().CompareStringW(kEnglishUs, NORM_IGNORECASE, expected, -1, version,
                                static_cast<int>(length)) == CSTR_EQUAL;
}

}  // namespace

DWORD InstallPackage(CKavrinApp& app, const PackageEntry* row) {
    PackageChoice choice;
    choice.row = row;

    // Consent: the question before a package that asks first.
    if (row->askFirst) {
        OwnedText question = FormatById(IDS_REQUIRES_PACKAGE, row->productName);
        if (ShowMessageText(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
    }

    // Language: the dialog only when the package is offered in two or more.
    const LanguageEntry* languages = row->languages;
    if (!languages || languages[0].langId == 0) return kResultBadArguments;
    if (languages[1].langId != 0) {
        choice.language = ChooseLanguage(languages, app.currentLangId);
        if (!choice.language) return kResultCancelled;
    } else {
        choice.language = &languages[0];
    }
    app.currentLangId = choice.language->langId;

    // Operation keyword: DEFAULT when the row names none.
    choice.operation = row->operation ? row->operation : u"DEFAULT";

    // Title: the product's text, whether or not a download follows, and the first cancel check.
    OwnedText title = FormatById(IDS_PLEASE_WAIT_DOWNLOAD, row->productName);
    app.Progress().SetTitleText(title.c_str());
    if (app.Progress().CancelRequested()) return ReportCancelled();

    // File: the package, or failing that the patch, of this machine's column.
    bool notNt = app.notNt != FALSE;
    choice.fileName = FileForThisMachine(choice.language->packageFiles, notNt);
    if (!choice.fileName) {
        choice.fileName = FileForThisMachine(choice.language->patchFiles, notNt);
        choice.isPatch = choice.fileName != nullptr;
    }
    if (!choice.fileName) {
        ShowMessage(IDS_NO_PACKAGE_FOR_OS, MB_ICONERROR);
        return kResultCancelled;
    }

    // Administrative target: the folder after /a, in admin mode only.
    if (app.mode == kModeAdmin && ParseAdminTarget(app.m_lpCmdLine, &choice.adminTarget) != 0) {
        ShowMessage(IDS_USAGE, MB_ICONINFORMATION);
        return kResultInstallFailure;
    }

    // Keyword test against the file kind, then the reinstall flag it implies.
    const OperationKeyword* operation = AcceptedOperation(choice.operation, choice.isPatch);
    if (!operation) {
        ReportError(IDS_INVALID_OPERATION, choice.operation);
        return kResultInvalidParameter;
    }
    choice.reinstall = operation->reinstall;

    // Source: the copy beside the executable, or failing that the download; then the engine
    // call.
    if (!choice.packagePath.Assign(app.exeDir.c_str()) ||
        !choice.packagePath.Append(choice.fileName))
        return ReportOutOfMemory();
    if (!LocalCopyIsUsable(app.engine, choice)) {
        DWORD result = DownloadPackage(app, choice);
        if (result != 0) return result;
    }
    return InvokeInstaller(app, choice);
}
