// Thin control objects bound to a dialog's child windows.
#pragma once

#include "fw/wnd.h"

class CStatic : public CWnd {};

class CButton : public CWnd {};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int low, int high) {
        SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(low), high);
    }
    int SetPos(int position) {
        return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position)));
    }
};

class CComboBox : public CWnd {
public:
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
    int AddString(const char16_t* text) {
        return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    int SetItemDataPtr(int index, const void* data) {
        return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(data)));
    }
    void* GetItemDataPtr(int index) {
        return reinterpret_cast<void*>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index)));
    }
    int SetCurSel(int index) {
        return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index)));
    }
    int GetCurSel() { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
};
