#include "fw/dialog.h"

#include "fw/win_app.h"

namespace {
// The dialog being created on this thread, until its window is tied to it.
thread_local CDialog* t_creating = nullptr;
}  // namespace

BOOL CDialog::Create(HWND parent) {
    modal_ = false;
    CWinApp* app = AfxGetApp();
    t_creating = this;
    HWND window =
        Api().CreateDialogParamW(app ? app->m_hInstance : nullptr, RESOURCE_ID(templateId_), parent,
                                 &DialogProc, reinterpret_cast<LPARAM>(this));
    t_creating = nullptr;
    if (!window) m_hWnd = nullptr;
    return window != nullptr;
}

INT_PTR CDialog::DoModal() {
    modal_ = true;
    CWinApp* app = AfxGetApp();
    HWND owner =
        app && app->m_pMainWnd && app->m_pMainWnd->IsWindow() ? app->m_pMainWnd->m_hWnd : nullptr;
    t_creating = this;
    INT_PTR result =
        Api().DialogBoxParamW(app ? app->m_hInstance : nullptr, RESOURCE_ID(templateId_), owner,
                              &DialogProc, reinterpret_cast<LPARAM>(this));
    t_creating = nullptr;
    m_hWnd = nullptr;
    return result;
}

void CDialog::EndDialog(INT_PTR result) { Api().EndDialog(m_hWnd, result); }

BOOL CDialog::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

void CDialog::OnOK() {
    if (modal_) EndDialog(IDOK);
}

void CDialog::OnCancel() {
    if (modal_) EndDialog(IDCANCEL);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR*) { return false; }

void CDialog::DDX_Control(int id, CWnd& control) { control.m_hWnd = Api().GetDlgItem(m_hWnd, id); }

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* dialog = reinterpret_cast<CDialog*>(Api().GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog && t_creating) {
        // The first message of a new dialog: tie the window to its object, and let the
        // object know its window exists before the dialog is initialised.
        dialog = t_creating;
        t_creating = nullptr;
        dialog->m_hWnd = window;
        Api().SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        if (dialog->OnCreate() == -1) {
            if (dialog->modal_) {
                Api().EndDialog(window, -1);
            } else {
                Api().DestroyWindow(window);
            }
            return TRUE;
        }
    }
    return dialog ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
            break;
        case WM_CLOSE:
            // A request to close is a Cancel.
            OnCancel();
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        case WM_NCDESTROY:
            Api().SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
            m_hWnd = nullptr;
            return FALSE;
        default:
            break;
    }
    INT_PTR result = FALSE;
    if (OnMessage(message, wParam, lParam, &result)) return result;
    return FALSE;
}
