// The thinnest window wrapper: a handle and the few operations the setup performs on it.
#pragma once

#include "seam/win32_api.h"

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL IsWindow() const { return m_hWnd && Api().IsWindow(m_hWnd); }
    BOOL SetWindowText(const char16_t* text) { return Api().SetWindowTextW(m_hWnd, text); }
    BOOL ShowWindow(int command) { return Api().ShowWindow(m_hWnd, command); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return Api().SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL DestroyWindow();

    HWND m_hWnd = nullptr;
};
