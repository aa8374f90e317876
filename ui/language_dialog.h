// The language choice dialog ("jezik" is Slovenian for "language"): a sorted drop-down list
// of a package's languages.
#pragma once

#include "fw/controls.h"
#include "fw/dialog.h"
#include "vocabulary/setup_config.h"

class CJezikDlg : public CDialog {
public:
    CJezikDlg();

    HICON icon = nullptr;  // shared resource icon, never destroyed
    const LanguageEntry* languageList = nullptr;
    const LanguageEntry* selected = nullptr;
    LANGID preselectLangId = 0;
    CButton cancelButton;
    CComboBox languageCombo;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    void OnSelChangeLanguage();
    void OnPaint();
};

// Shows the dialog for `list` with `preselect` selected; the chosen row, or null when the
// dialog was not confirmed with OK.
const LanguageEntry* ChooseLanguage(const LanguageEntry* list, LANGID preselect);
