// Child processes, waiting while serving messages, and downloads of the simulated Windows.
#include <string.h>

#include <algorithm>

#include "tests/sim/sim_windows.h"

BOOL SimWindows::CreateProcessW(const char16_t* application, char16_t* line16,
                                void* processAttributes, void* threadAttributes,
                                BOOL inheritHandles, DWORD flags, void* environment,
                                const char16_t* directory, STARTUPINFOW* startup,
                                PROCESS_INFORMATION* process) {
    Record("CreateProcessW",
           {application, Utf8(line16), processAttributes ? "sa" : "null",
            threadAttributes ? "sa" : "null", inheritHandles, Hex(flags),
            environment ? "env" : "null", directory,
            "cb=" + std::to_string(startup->cb) + " flags=" + std::to_string(startup->dwFlags) +
                " show=" + std::to_string(startup->wShowWindow)});
    if (createProcessFails) return Fail(createProcessError, FALSE);
    std::u16string line = line16 ? line16 : u"";
    processes.push_back(line);
    DWORD exitCode = onProcess ? onProcess(*this, line) : 0;
    process->hProcess = NewHandle("process");
    process->hThread = NewHandle("process thread");
    process->dwProcessId = 100 + static_cast<DWORD>(processes.size());
    process->dwThreadId = 200 + static_cast<DWORD>(processes.size());
    processExitCodes_[process->hProcess] = exitCode;
    return TRUE;
}

BOOL SimWindows::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    Record("GetExitCodeProcess", {handles_.count(process) ? "process" : "bad"});
    if (exitCodeUnreadable || !processExitCodes_.count(process))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    *exitCode = processExitCodes_[process];
    return TRUE;
}

int SimWindows::lstrlenW(const char16_t* text) {
    return text ? static_cast<int>(std::u16string(text).size()) : 0;
}

// As on Windows, a signalled handle is reported before queued input, and a wake for input
// comes only for input that arrived since the thread last looked at its queue (PeekMessageW):
// messages left behind by a look wake nothing. A child process has ended once nothing new is
// waiting. A thread waited for runs to its end meanwhile, while the waiting thread serves its
// messages; what it posts before it ends is still queued when the wait reports its end.
DWORD SimWindows::MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                            DWORD milliseconds, DWORD wakeMask) {
    Record("MsgWaitForMultipleObjects", {count, waitAll, Hex(milliseconds), Hex(wakeMask)});
    if (waitFails) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    bool mainThread = !runningThread_;
    pendingSeen_ = std::min(pendingSeen_, pendingMessages);
    auto inputWaiting = [&] {
        return pendingMessages > pendingSeen_ || (mainThread && quitMessages > 0);
    };
    auto thread = count == 1 ? threads_.find(handles[0]) : threads_.end();
    bool isThread = thread != threads_.end();
    if (isThread && thread->second.finished) return WAIT_OBJECT_0;
    if (inputWaiting()) return WAIT_OBJECT_0 + count;
    if (!isThread) return WAIT_OBJECT_0;
    RunThread(thread->first, MainThread::kServingMessages);
    if (thread->second.finished) return WAIT_OBJECT_0;
    if (inputWaiting()) return WAIT_OBJECT_0 + count;
    if (milliseconds == INFINITE)
        faults.push_back("MsgWaitForMultipleObjects on a thread that never ends");
    return WAIT_TIMEOUT;
}

// The main thread's quit messages come first; the other waiting messages are WM_NULL. A
// message range (first and last not both 0) takes only the messages inside it.
BOOL SimWindows::PeekMessageW(MSG* msg, HWND, UINT first, UINT last, UINT remove) {
    Record("PeekMessageW", {Hex(remove)});
    memset(msg, 0, sizeof(*msg));
    auto wanted = [&](UINT message) {
        return (first == 0 && last == 0) || (first <= message && message <= last);
    };
    BOOL found = FALSE;
    if (!runningThread_ && quitMessages > 0 && wanted(WM_QUIT)) {
        if (remove & PM_REMOVE) --quitMessages;
        msg->message = WM_QUIT;
        found = TRUE;
    } else if (pendingMessages > 0 && wanted(WM_NULL)) {
        if (remove & PM_REMOVE) --pendingMessages;
        msg->message = WM_NULL;
        found = TRUE;
    }
    pendingSeen_ = pendingMessages;  // a look sees everything queued
    return found;
}

HRESULT SimWindows::URLDownloadToCacheFileW(void* caller, const char16_t* url, char16_t* path,
                                            DWORD size, DWORD reserved,
                                            IBindStatusCallback* callback) {
    Record("URLDownloadToCacheFileW",
           {caller ? "caller" : "null", Utf8(url), size, reserved, callback ? "callback" : "null"});
    auto it = downloads.find(url ? url : u"");
    if (it == downloads.end())
        return static_cast<HRESULT>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND
    Download download = it->second;
    if (callback) callback->AddRef();
    HRESULT result = download.result;
    for (const auto& step : download.progress) {
        if (callback && callback->OnProgress(step.first, step.second, 5, nullptr) == E_ABORT) {
            result = E_ABORT;
            break;
        }
    }
    if (callback) callback->Release();
    if (result >= 0) {
        size_t n = std::min<size_t>(download.cachePath.size(), size - 1);
        memcpy(path, download.cachePath.data(), n * sizeof(char16_t));
        path[n] = 0;
        files[download.cachePath];
    }
    return result;
}
