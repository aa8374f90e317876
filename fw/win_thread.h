// A worker thread object. It never deletes itself: its owner deletes it after the thread has
// ended, which closes the thread's handle.
#pragma once

#include "seam/win32_api.h"

class CWinThread {
public:
    CWinThread(LPTHREAD_START_ROUTINE procedure, LPVOID parameter)
        : procedure_(procedure), parameter_(parameter) {}
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Creates the thread with the given creation flags; false when it cannot be created.
    BOOL CreateThread(DWORD flags, SIZE_T stackSize = 0);
    DWORD ResumeThread() { return Api().ResumeThread(m_hThread); }

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;

private:
    LPTHREAD_START_ROUTINE procedure_;
    LPVOID parameter_;
};
