#include "fw/wnd.h"

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    BOOL destroyed = Api().DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    return destroyed;
}
