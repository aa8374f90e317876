#include "ui/language_dialog.h"

#include "fw/win_app.h"
#include "res/resource.h"

CJezikDlg::CJezikDlg() : CDialog(IDD_LANGUAGE) {}

void CJezikDlg::DoDataExchange() {
    DDX_Control(IDCANCEL, cancelButton);
    DDX_Control(IDC_LANGUAGE_LIST, languageCombo);
}

BOOL CJezikDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    languageCombo.ResetContent();
    for (const LanguageEntry* row = languageList; row && row->langId != 0; ++row) {
        int index = languageCombo.AddString(row->languageName);
        if (index < 0) continue;  // a name the list cannot take is not offered
        languageCombo.SetItemDataPtr(index, row);
        if (row->langId == preselectLangId) {
            languageCombo.SetCurSel(index);
            selected = row;
        }
    }
    Api().SetFocus(languageCombo.m_hWnd);
    CWinApp* app = AfxGetApp();
    icon = Api().LoadIconW(app ? app->m_hInstance : nullptr, RESOURCE_ID(IDI_SETUP));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    return FALSE;  // the focus is set
}

bool CJezikDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
    switch (message) {
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<INT_PTR>(icon);
            return true;
        case WM_PAINT:
            if (!Api().IsIconic(m_hWnd)) return false;
            OnPaint();
            *result = TRUE;
            return true;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_LANGUAGE_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
                OnSelChangeLanguage();
                *result = TRUE;
                return true;
            }
            return false;
        default:
            return false;
    }
}

void CJezikDlg::OnSelChangeLanguage() {
    int index = languageCombo.GetCurSel();
    if (index == CB_ERR) return;
    selected = static_cast<const LanguageEntry*>(languageCombo.GetItemDataPtr(index));
}

// Minimised, the dialog paints itself as its icon, centred.
void CJezikDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = Api().BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int cx = Api().GetSystemMetrics(SM_CXICON);
    int cy = Api().GetSystemMetrics(SM_CYICON);
    RECT rect = {0, 0, 0, 0};
    Api().GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - cx + 1) / 2;
    int y = (rect.bottom - rect.top - cy + 1) / 2;
    Api().DrawIcon(dc, x, y, icon);
    Api().EndPaint(m_hWnd, &paint);
}

const LanguageEntry* ChooseLanguage(const LanguageEntry* list, LANGID preselect) {
    CJezikDlg dialog;
    dialog.selected = list;
    dialog.languageList = list;
    dialog.preselectLangId = preselect;
    return dialog.DoModal() == IDOK ? dialog.selected : nullptr;
}
