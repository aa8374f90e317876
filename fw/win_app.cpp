#include "fw/win_app.h"

#include "platform/path_size.h"
#include "res/resource.h"

namespace {
CWinApp* g_app = nullptr;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
}  // namespace

CWinApp* AfxGetApp() { return g_app; }

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

void CWinApp::DispatchThreadMessage(MSG* msg) {
    HWND main = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    if (main && Api().IsDialogMessageW(main, msg)) return;
    Api().TranslateMessage(msg);
    Api().DispatchMessageW(msg);
}

int CWinApp::Run() {
    MSG msg = {};
    for (;;) {
        BOOL got = Api().GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        DispatchThreadMessage(&msg);
    }
    return static_cast<int>(msg.wParam);
}

DWORD CWinApp::WaitServingMessages(HANDLE handle) {
    for (;;) {
        DWORD wait = Api().MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return 0;
        if (wait != WAIT_OBJECT_0 + 1) {
            DWORD error = Api().GetLastError();
            return error ? error : ERROR_INVALID_HANDLE;
        }
        // A wake announces only input that arrived since the last look: serve all of it. A
        // quit message has nothing left to end here.
        MSG msg;
        while (Api().PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message != WM_QUIT) DispatchThreadMessage(&msg);
    }
}

int CWinApp::WinMain() {
    m_hInstance = Api().GetModuleHandleW(nullptr);
    m_commandLine.Assign(SkipProgramName(Api().GetCommandLineW()));
    m_lpCmdLine = m_commandLine.IsNull() ? nullptr : m_commandLine.data();
    m_nThreadID = Api().GetCurrentThreadId();
    LoadAppName();

    if (!InitInstance()) {
        if (m_pMainWnd && m_pMainWnd->IsWindow()) m_pMainWnd->DestroyWindow();
        return ExitInstance();
    }
    Run();
    return ExitInstance();
}

void CWinApp::LoadAppName() {
    // A zero buffer size asks for a pointer to the resource text itself.
    const char16_t* title = nullptr;
    int length =
        Api().LoadStringW(m_hInstance, AFX_IDS_APP_TITLE, reinterpret_cast<char16_t*>(&title), 0);
    if (length > 0 && title && m_appName.Assign(title, static_cast<size_t>(length))) return;

    char16_t path[kPathBufferSize];
    DWORD n = Api().GetModuleFileNameW(nullptr, path, kPathBufferSize);
    if (n == 0 || n >= kPathBufferSize) return;
    size_t start = 0, end = n;
    for (size_t i = 0; i < n; ++i)
        if (path[i] == u'\\' || path[i] == u'/') start = i + 1;
    for (size_t i = n; i > start; --i)
        if (path[i - 1] == u'.') {
            end = i - 1;
            break;
        }
    m_appName.Assign(path + start, end - start);
}

const char16_t* SkipProgramName(const char16_t* commandLine) {
    if (!commandLine) return u"";
    const char16_t* p = commandLine;
    if (*p == u'"') {
        ++p;
        while (*p && *p != u'"') ++p;
        if (*p == u'"') ++p;
    } else {
        while (*p && !IsBlank(*p)) ++p;
    }
    while (IsBlank(*p)) ++p;
    return p;
}
