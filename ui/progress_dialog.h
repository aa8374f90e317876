// The progress window ("napredek" is Slovenian for "progress"): title text, status line,
// progress bar and Cancel. It is also the
// download's status callback, so a transfer draws its progress straight into the bar and
// learns from the return value whether the user has cancelled.
#pragma once

#include <atomic>

#include "fw/controls.h"
#include "fw/dialog.h"
#include "seam/win32_api.h"
#include "ui/progress_view.h"

extern const IID kIIDBindStatusCallback;
extern const IID kIIDUnknown;

// COM objects are never deleted through their interface pointer; the platform's interface
// declarations have no virtual destructor.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class CNapredekDlg : public CDialog, public IBindStatusCallback, public ProgressView {
public:
    CNapredekDlg();

    // ProgressView, used from the worker thread; the main thread applies each call before it
    // returns.
    void SetTitleText(const char16_t* text) override { titleCtrl.SetWindowText(text); }
    void SetStatusText(const char16_t* text) override { statusCtrl.SetWindowText(text); }
    void HideWindow() override { ShowWindow(SW_HIDE); }
    bool CancelRequested() const override {
        return cancelRequested.load(std::memory_order_relaxed) != 0;
    }
    IBindStatusCallback* Callback() override { return this; }
    HWND OwnerWindow() const override { return m_hWnd; }

    CStatic iconCtrl;
    CStatic titleCtrl;
    CStatic statusCtrl;
    CProgressCtrl progressCtrl;
    CButton cancelButton;
    // Set to 1 by Cancel and never cleared; read by the worker and the download callback.
    std::atomic<LONG> cancelRequested{0};
    HICON smallIcon = nullptr;
    HICON bigIcon = nullptr;
    HCURSOR waitCursor = nullptr;
    // The callback's reference count; the object lives as long as the application object.
    ULONG refCount = 0;

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                              STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) override;

protected:
    void DoDataExchange() override;
    int OnCreate() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnDestroy() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    BOOL OnSetCursor(HWND window);
};
#pragma GCC diagnostic pop
