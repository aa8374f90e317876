#include "app/kavrin_app.h"

#include "app/result_codes.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "trust/signature.h"
#include "ui/messages.h"

CKavrinApp theApp;

const char16_t kGlobalMutexName[] = u"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";
const char16_t kLocalMutexName[] = u"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";

namespace {
const DWORD kPathBufferSize = 520;
}  // namespace

bool CKavrinApp::LocateExecutable() {
    char16_t path[kPathBufferSize];
    DWORD length = Api().GetModuleFileNameW(nullptr, path, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) {
        // Without its own path the setup can neither find the packages beside it nor check
        // signatures against itself.
        exitStatus = length == 0 ? static_cast<LONG>(Api().GetLastError()) : 0;
        if (exitStatus == 0) exitStatus = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    if (!exePath.Assign(path, length)) {
        exitStatus = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    // Only the backslash separates directories here.
    size_t cut = 0;
    for (size_t i = 0; i < length; ++i)
        if (path[i] == u'\\') cut = i + 1;
    bool copied = cut ? exeDir.Assign(path, cut) : exeDir.Assign(u".\\");
    if (!copied) {
        exitStatus = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

BOOL CKavrinApp::InitInstance() {
    if (!LocateExecutable()) return FALSE;
    CWinApp::InitInstance();

    currentLangId = Api().GetUserDefaultLangID();
    exitStatus = 0;

    DWORD major = 0;
    notNt = ProbePlatform(&major) ? TRUE : FALSE;
    osMajor = static_cast<LONG>(major);
    isAdmin = IsUserAdmin(notNt, major) ? TRUE : FALSE;
    restartPending = FALSE;

    mode = GetSetupMode(m_lpCmdLine);
    if (mode == kModeVerify) {
        RunVerifyMode();
        if (exitStatus != kResultBadArguments) return FALSE;
    }
    if (exitStatus == kResultBadArguments || mode == kModeUsage) {
        ShowMessage(IDS_USAGE, MB_ICONINFORMATION);
        return FALSE;
    }

    if (!TakeSingleInstance()) {
        exitStatus = kResultAlreadyRunning;
        return FALSE;
    }
    return FALSE;
}

void CKavrinApp::RunVerifyMode() {
    const char16_t* file = nullptr;
    if (TakeVerifyFile(m_lpCmdLine, &file) != 0) {
        exitStatus = kResultBadArguments;
        return;
    }
    exitStatus = static_cast<LONG>(VerifyModeStatus(CompareSigners(exePath.c_str(), file, nullptr)));
}

bool CKavrinApp::TakeSingleInstance() {
    bool global = (!notNt && osMajor >= 5) || IsTerminalServer(notNt, static_cast<DWORD>(osMajor));
    singleInstance_ =
        Api().CreateMutexW(nullptr, FALSE, global ? kGlobalMutexName : kLocalMutexName);
    return singleInstance_ != nullptr && Api().GetLastError() != ERROR_ALREADY_EXISTS;
}

int CKavrinApp::ExitInstance() {
    CWinApp::ExitInstance();
    exePath.Clear();
    exeDir.Clear();
    return static_cast<int>(exitStatus);
}
