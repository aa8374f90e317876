// The setup's application object ("Kavrin" is the project's name, as in the KAVRIN_ prefix of
// its build options and macros): the state that start-up records and the steps read. Its
// start-up and shutdown (InitInstance, ExitInstance) are the top layer's, in app/.
#pragma once

#include "fw/win_app.h"
#include "fw/win_thread.h"
#include "platform/owned_text.h"
#include "state/installer_binding.h"
#include "ui/progress_dialog.h"
#include "vocabulary/command_line.h"
#include "vocabulary/setup_config.h"

class CKavrinApp : public CWinApp {
public:
    CKavrinApp() = default;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // The current language: the user's default language from start-up on, replaced by the
    // language chosen for each package handled.
    LANGID currentLangId = 0;
    // The status the process returns.
    LONG exitStatus = 0;
    LONG osMajor = 0;
    BOOL notNt = FALSE;
    BOOL isAdmin = FALSE;
    // The engine upgrade asked for a restart.
    BOOL restartPending = FALSE;
    SetupMode mode = kModeInstall;
    // Full path of the setup executable, and its directory with a trailing backslash
    // (".\" when the path holds no backslash).
    OwnedText exePath;
    OwnedText exeDir;
    // The loaded Windows Installer engine; null until bound.
    InstallerBinding engine;
    // urlmon, loaded by the first download and kept until shutdown (see DownloadToCache).
    HMODULE urlmon = nullptr;
    // The progress window, the application's main window during the install run.
    CNapredekDlg progress;
    // What the steps may do with the progress window.
    ProgressView& Progress() { return progress; }
    // The worker thread, null until started.
    CWinThread* worker = nullptr;

    // The configuration the worker walks: the built-in tables (tests may point it elsewhere).
    const SetupConfig* config = &setupConfig;

private:
    bool LocateExecutable();
    // The /v mode: the file's verdict as the exit status, or the usage text and 160 when the
    // arguments name no single file.
    void RunVerifyMode();
    bool TakeSingleInstance();
    // The install run (modes Install and Admin): the single instance, the progress window and
    // the worker. False, with exitStatus set, when it cannot start.
    bool StartInstallRun();
    void RegisterProgressBarClass();

    HMODULE commonControls_ = nullptr;

    // Held until the process ends, so that a second setup can see this one running.
    HANDLE singleInstance_ = nullptr;
};

extern CKavrinApp theApp;

// The names of the single-instance mutex.
extern const char16_t kGlobalMutexName[];
extern const char16_t kLocalMutexName[];
