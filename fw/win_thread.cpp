#include "fw/win_thread.h"

CWinThread::~CWinThread() {
    if (m_hThread) Api().CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD flags, SIZE_T stackSize) {
    m_hThread = Api().CreateThread(nullptr, stackSize, procedure_, parameter_, flags, &m_nThreadID);
    return m_hThread != nullptr;
}
