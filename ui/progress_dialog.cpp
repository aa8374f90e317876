#include "ui/progress_dialog.h"

#include <string.h>

#include "fw/win_app.h"
#include "res/resource.h"

const IID kIIDBindStatusCallback = {
    0x79EAC9C1, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
const IID kIIDUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

CNapredekDlg::CNapredekDlg() : CDialog(IDD_PROGRESS) {}

void CNapredekDlg::DoDataExchange() {
    DDX_Control(IDC_PROGRESS_ICON, iconCtrl);
    DDX_Control(IDC_PROGRESS_TITLE, titleCtrl);
    DDX_Control(IDC_PROGRESS_STATUS, statusCtrl);
    DDX_Control(IDC_PROGRESS_BAR, progressCtrl);
    DDX_Control(IDCANCEL, cancelButton);
}

int CNapredekDlg::OnCreate() {
    HINSTANCE instance = AfxGetApp() ? AfxGetApp()->m_hInstance : nullptr;
    // A failed load leaves the handle null; the window works without it.
    smallIcon = static_cast<HICON>(Api().LoadImageW(
        instance, RESOURCE_ID(IDI_SETUP), IMAGE_ICON, Api().GetSystemMetrics(SM_CXSMICON),
        Api().GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    bigIcon = static_cast<HICON>(Api().LoadImageW(
        instance, RESOURCE_ID(IDI_SETUP), IMAGE_ICON, Api().GetSystemMetrics(SM_CXICON),
        Api().GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    waitCursor = Api().LoadCursorW(nullptr, KAVRIN_IDC_WAIT);
    return 0;
}

BOOL CNapredekDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CWinApp* app = AfxGetApp();
    SetWindowText(app ? app->AppName() : u"");
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    Api().SetFocus(cancelButton.m_hWnd);
    cancelRequested.store(0, std::memory_order_relaxed);
    return FALSE;  // the focus is set
}

// Cancel, Esc and every request to close only record the request: the worker decides where
// to honour it, and the window stays until shutdown.
void CNapredekDlg::OnCancel() { cancelRequested.store(1, std::memory_order_relaxed); }

void CNapredekDlg::OnDestroy() {
    if (bigIcon) {
        Api().DestroyIcon(bigIcon);
        bigIcon = nullptr;
    }
    if (smallIcon) {
        Api().DestroyIcon(smallIcon);
        smallIcon = nullptr;
    }
}

bool CNapredekDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
    if (message != WM_SETCURSOR) return false;
    if (!OnSetCursor(reinterpret_cast<HWND>(wParam))) return false;
    // The cursor is set: stop the default handling from setting another one.
    Api().SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
    *result = TRUE;
    return true;
}

// The wait cursor everywhere on the window but over the Cancel button.
BOOL CNapredekDlg::OnSetCursor(HWND window) {
    if (window && window == cancelButton.m_hWnd) return FALSE;
    Api().SetCursor(waitCursor);
    return TRUE;
}

HRESULT STDMETHODCALLTYPE CNapredekDlg::QueryInterface(REFIID riid, void** object) {
    if (memcmp(&riid, &kIIDBindStatusCallback, sizeof(IID)) == 0 ||
        memcmp(&riid, &kIIDUnknown, sizeof(IID)) == 0) {
        *object = static_cast<IBindStatusCallback*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CNapredekDlg::AddRef() { return ++refCount; }

// The object belongs to the application object: the count never deletes it.
ULONG STDMETHODCALLTYPE CNapredekDlg::Release() { return --refCount; }

HRESULT STDMETHODCALLTYPE CNapredekDlg::OnStartBinding(DWORD, IBinding*) { return S_OK; }
HRESULT STDMETHODCALLTYPE CNapredekDlg::GetPriority(LONG*) { return S_OK; }
HRESULT STDMETHODCALLTYPE CNapredekDlg::OnLowResource(DWORD) { return S_OK; }

HRESULT STDMETHODCALLTYPE CNapredekDlg::OnProgress(ULONG progress, ULONG progressMax, ULONG,
                                                   LPCWSTR) {
    if (progressCtrl.m_hWnd && Api().IsWindow(progressCtrl.m_hWnd)) {
        progressCtrl.SetRange32(0, static_cast<int>(progressMax));
        progressCtrl.SetPos(static_cast<int>(progress));
    }
    return CancelRequested() ? E_ABORT : S_OK;
}

HRESULT STDMETHODCALLTYPE CNapredekDlg::OnStopBinding(HRESULT, LPCWSTR) { return S_OK; }
HRESULT STDMETHODCALLTYPE CNapredekDlg::GetBindInfo(DWORD*, BINDINFO*) { return S_OK; }
HRESULT STDMETHODCALLTYPE CNapredekDlg::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CNapredekDlg::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }
