// Dialogs from templates, modeless or modal, with their messages routed to virtual handlers
// in the manner of the classic application framework.
#pragma once

#include "fw/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId) : templateId_(templateId) {}

    // Creates the dialog modeless; true when the window exists.
    BOOL Create(HWND parent);
    // Runs the dialog modally, owned by the application's main window; gives the result
    // passed to EndDialog (IDOK, IDCANCEL), or -1 when the dialog cannot be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

protected:
    // Binds the control objects to their child windows.
    virtual void DoDataExchange() {}
    // The window exists; runs before OnInitDialog. -1 fails the creation.
    virtual int OnCreate() { return 0; }
    // Base: binds the controls. TRUE lets the platform set the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void OnDestroy() {}
    // Any other message: true when handled, with the dialog procedure's return value.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

    void DDX_Control(int id, CWnd& control);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    bool modal_ = false;
};
