// The application object in the style of the classic Windows application framework: the
// entry point runs the initialisation step, the main thread's message loop until the quit
// message, and the termination step, whose result is the process exit status.
#pragma once

#include "fw/wnd.h"
#include "platform/owned_text.h"
#include "seam/win32_api.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The framework's own steps; an application overrides them and calls these first/last.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // Serves the main thread's messages until the quit message.
    virtual int Run();
    // Waits for `handle` without a time limit while serving this thread's messages, so that
    // calls of other threads on this thread's windows go on being answered meanwhile. 0 once
    // the handle is signalled, or the error of a failed wait (never 0).
    DWORD WaitServingMessages(HANDLE handle);

    // Runs the whole application and gives the process exit status.
    int WinMain();

    // The application name: string 57344 of the executable, or its file name without
    // extension when that string cannot be loaded. Set before InitInstance runs.
    const char16_t* AppName() const { return m_appName.c_str(); }
    void LoadAppName();

    HINSTANCE m_hInstance = nullptr;
    // The arguments: the command-line text after the program's own name. A copy of the
    // process command line, so the application may cut arguments in place.
    char16_t* m_lpCmdLine = nullptr;
    CWnd* m_pMainWnd = nullptr;
    DWORD m_nThreadID = 0;

private:
    // One message of this thread's queue: the main window's dialog keys first.
    void DispatchThreadMessage(MSG* msg);

    OwnedText m_appName;
    OwnedText m_commandLine;
};

CWinApp* AfxGetApp();

// The text after the program's name in a full command line, with leading blanks skipped.
const char16_t* SkipProgramName(const char16_t* commandLine);
