// What the steps may do with the progress window: the narrow view that the engine upgrade and
// the package steps use, so that they never reach into the dialog itself. CNapredekDlg is
// the one implementation; every call is made from the worker thread.
#pragma once

#include "seam/win32_api.h"

class ProgressView {
public:
    // The title line: the product being handled.
    virtual void SetTitleText(const char16_t* text) = 0;
    // The status line: what is happening now.
    virtual void SetStatusText(const char16_t* text) = 0;
    // Hides the window before the engine shows its own user interface.
    virtual void HideWindow() = 0;
    // True once the user has asked to cancel; never cleared.
    virtual bool CancelRequested() const = 0;
    // The status callback of a download, which draws its progress and stops it on Cancel.
    virtual IBindStatusCallback* Callback() = 0;
    // The window that owns the trust provider's dialogs.
    virtual HWND OwnerWindow() const = 0;

protected:
    ~ProgressView() = default;
};
