#include "state/kavrin_app.h"

#include "app/setup_worker.h"
#include "app/shutdown_privilege.h"

#include "platform/path_size.h"
#include "platform/system_library.h"
#include "probes/probes.h"
#include "res/resource.h"
#include "trust/signature.h"
#include "ui/messages.h"
#include "vocabulary/result_codes.h"

CKavrinApp theApp;

const char16_t kGlobalMutexName[] = u"Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";
const char16_t kLocalMutexName[] = u"_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}";

bool CKavrinApp::LocateExecutable() {
    char16_t path[kPathBufferSize];
    DWORD length = Api().GetModuleFileNameW(nullptr, path, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) {
        // Without its own path the setup can neither find the packages beside it nor check
        // signatures against itself.
        exitStatus = length == 0 ? static_cast<LONG>(Api().GetLastError()) : 0;
        if (exitStatus == 0) exitStatus = kResultPathTooLong;
        return false;
    }
    if (!exePath.Assign(path, length)) {
        exitStatus = kResultNotEnoughMemory;
        return false;
    }
    // Only the backslash separates directories here.
    size_t cut = 0;
    for (size_t i = 0; i < length; ++i)
        if (path[i] == u'\\') cut = i + 1;
    bool copied = cut ? exeDir.Assign(path, cut) : exeDir.Assign(u".\\");
    if (!copied) {
        exitStatus = kResultNotEnoughMemory;
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
    switch (mode) {
        case kModeUsage:
            ShowMessage(IDS_USAGE, MB_ICONINFORMATION);
            return FALSE;
        case kModeVerify:
            // Before the single-instance check: the install run verifies with a child copy of
            // itself while it holds the mutex.
            RunVerifyMode();
            return FALSE;
        case kModeInstall:
        case kModeAdmin:
            break;
    }
    return StartInstallRun() ? TRUE : FALSE;
}

// The progress bar's window class lives in the common controls library, which is loaded
// from the system directory and kept until shutdown.
void CKavrinApp::RegisterProgressBarClass() {
    struct InitCommonControlsExData {
        DWORD dwSize;
        DWORD dwICC;
    };
    typedef BOOL(WINAPI * InitCommonControlsExFn)(const InitCommonControlsExData*);
    commonControls_ = LoadSystemLibrary(u"comctl32.dll");
    if (!commonControls_) return;
    auto init = FindExport<InitCommonControlsExFn>(commonControls_, "InitCommonControlsEx");
    const InitCommonControlsExData data = {sizeof(InitCommonControlsExData), ICC_PROGRESS_CLASS};
    if (init) init(&data);
}

bool CKavrinApp::StartInstallRun() {
    if (!TakeSingleInstance()) {
        exitStatus = kResultAlreadyRunning;
        return false;
    }
    RegisterProgressBarClass();
    // Without the window there is no Cancel and nothing to show the run in: no run at all.
    if (!progress.Create(Api().GetDesktopWindow())) {
        exitStatus = static_cast<LONG>(Api().GetLastError());
        if (exitStatus == 0) exitStatus = kResultInstallFailure;
        return false;
    }
    m_pMainWnd = &progress;

    CWinThread* thread = new CWinThread(&SetupWorker, nullptr);
    if (!thread || !thread->CreateThread(CREATE_SUSPENDED)) {
        // Without a worker nothing can be installed: the run must not end as a success.
        exitStatus = thread ? static_cast<LONG>(Api().GetLastError())
                            : static_cast<LONG>(kResultNotEnoughMemory);
        if (exitStatus == 0) exitStatus = kResultNotEnoughMemory;
        delete thread;
        return false;
    }
    // The application deletes the thread object after waiting for the thread (ExitInstance),
    // so the object outlives the thread in every case.
    worker = thread;
    worker->ResumeThread();
    return true;
}

void CKavrinApp::RunVerifyMode() {
    const char16_t* file = nullptr;
    if (TakeVerifyFile(m_lpCmdLine, &file) != 0) {
        exitStatus = kResultBadArguments;
        ShowMessage(IDS_USAGE, MB_ICONINFORMATION);
        return;
    }
    exitStatus =
        static_cast<LONG>(VerifyModeStatus(CompareSigners(exePath.c_str(), file, nullptr)));
}

bool CKavrinApp::TakeSingleInstance() {
    bool global = (!notNt && osMajor >= 5) || IsTerminalServer(notNt, static_cast<DWORD>(osMajor));
    singleInstance_ =
        Api().CreateMutexW(nullptr, FALSE, global ? kGlobalMutexName : kLocalMutexName);
    return singleInstance_ != nullptr && Api().GetLastError() != ERROR_ALREADY_EXISTS;
}

int CKavrinApp::ExitInstance() {
    if (worker) {
        // The main loop may have ended before the worker (a quit message posted by another
        // program, a failed GetMessageW), and the worker's calls on the progress window wait
        // for this thread: serve its messages while waiting. Only when that wait itself fails
        // is there nothing left but a plain one.
        if (WaitServingMessages(worker->m_hThread) != 0)
            Api().WaitForSingleObject(worker->m_hThread, INFINITE);
        // The main loop is over, so a quit message still queued means nothing now: the
        // worker's own, when the wait saw the thread end before it (Windows reports an ended
        // thread before queued input), or another program's. Left there, it would close the
        // restart question's box at once, before the user answered.
        MSG quit;
        while (Api().PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        // The install run ends with the worker's result, so that scripts can tell success
        // from failure; a result that cannot be read is no success.
        DWORD result = 0;
        if (Api().GetExitCodeThread(worker->m_hThread, &result)) {
            exitStatus = static_cast<LONG>(result);
        } else {
            exitStatus = static_cast<LONG>(Api().GetLastError());
            if (exitStatus == 0) exitStatus = kResultInstallFailure;
        }
        delete worker;
        worker = nullptr;
    }
    if (progress.IsWindow()) progress.DestroyWindow();
    m_pMainWnd = nullptr;
    if (engine.module) {
        Api().FreeLibrary(engine.module);
        engine = InstallerBinding();
    }
    if (urlmon) {
        Api().FreeLibrary(urlmon);
        urlmon = nullptr;
    }
    if (commonControls_) {
        Api().FreeLibrary(commonControls_);
        commonControls_ = nullptr;
    }
    if (restartPending) {
        bool restarting = false;
        if (ShowMessage(IDS_RESTART_PROMPT, MB_YESNO | MB_ICONQUESTION) == IDYES) {
            if (!notNt) EnableShutdownPrivilege();
            restarting = Api().ExitWindowsEx(EWX_REBOOT, 0) != FALSE;
        }
        // A run that succeeded tells deployment tools that the upgraded engine still needs
        // the restart, or that the restart is under way.
        if (exitStatus == 0)
            exitStatus = restarting ? kResultRebootInitiated : kResultRebootRequired;
    }
    CWinApp::ExitInstance();
    exePath.Clear();
    exeDir.Clear();
    return static_cast<int>(exitStatus);
}
