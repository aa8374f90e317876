// The simulated desktop: dialogs from the setup's two templates with their controls, threads
// that run when resumed, child processes, the message loop and waits, icons and cursors.
#include <string.h>

#include <algorithm>
#include <utility>

#include "res/resource.h"
#include "tests/sim/sim_windows.h"

namespace {
struct TemplateControl {
    int id;
    const char16_t* className;
    const char16_t* text;
};

// The controls of the two templates, in template order.
const std::vector<TemplateControl>* TemplateControls(UINT templateId) {
    static const std::vector<TemplateControl> progress = {
        {IDC_PROGRESS_ICON, u"Static", u""},   {IDC_PROGRESS_TITLE, u"Static", u""},
        {IDC_PROGRESS_STATUS, u"Static", u""}, {IDC_PROGRESS_BAR, u"msctls_progress32", u""},
        {IDCANCEL, u"Button", u"Cancel"},
    };
    static const std::vector<TemplateControl> language = {
        {IDC_LANGUAGE_LIST, u"ComboBox", u""},
        {IDOK, u"Button", u"&OK"},
        {IDCANCEL, u"Button", u"Cancel"},
    };
    if (templateId == IDD_PROGRESS) return &progress;
    if (templateId == IDD_LANGUAGE) return &language;
    return nullptr;
}
}  // namespace

HWND SimWindows::NewWindow(SimWindow window) {
    HWND h = reinterpret_cast<HWND>(nextWindow_);
    nextWindow_ += 0x10;
    window.thread = runningThread_;
    windows[h] = std::move(window);
    return h;
}

HWND SimWindows::CreateFromTemplate(UINT templateId, HWND parent, DLGPROC proc, LPARAM param,
                                    bool modal) {
    const auto* controls = TemplateControls(templateId);
    if (createDialogFails || !controls)
        return Fail(createDialogFails ? createDialogError : ERROR_RESOURCE_NAME_NOT_FOUND, nullptr);
    SimWindow dialog;
    dialog.templateId = templateId;
    dialog.className = u"#32770";
    dialog.text = templateId == IDD_PROGRESS ? u"Windows Installer Installation Wrapper"
                                             : u"Choose setup language";
    dialog.proc = proc;
    dialog.modal = modal;
    HWND h = NewWindow(dialog);
    for (const auto& c : *controls) {
        SimWindow control;
        control.id = c.id;
        control.className = c.className;
        control.text = c.text;
        control.parent = h;
        windows[h].children.push_back(NewWindow(control));
    }
    (void)parent;  // the owner of a top-level dialog is kept apart from the parent of a control
    proc(h, WM_SETFONT, 0, 0);
    if (!windows[h].alive) return nullptr;
    INT_PTR focusDefault =
        proc(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(windows[h].children[0]), param);
    if (focusDefault) focus = windows[h].children[0];
    return windows[h].alive ? h : nullptr;
}

HWND SimWindows::DialogOf(UINT templateId) const {
    HWND found = nullptr;
    for (const auto& w : windows)
        if (w.second.templateId == templateId && !w.second.parent) found = w.first;
    return found;
}

HWND SimWindows::ChildOf(HWND dialog, int id) {
    for (HWND child : windows.at(dialog).children)
        if (windows[child].id == id) return child;
    return nullptr;
}

SimWindow& SimWindows::Control(HWND dialog, int id) {
    if (HWND child = ChildOf(dialog, id)) return windows[child];
    static SimWindow none;
    return none = SimWindow();
}

void SimWindows::Click(HWND dialog, int id) {
    if (HWND child = ChildOf(dialog, id)) SendMessageW(child, BM_CLICK, 0, 0);
}

void SimWindows::SelectItem(HWND dialog, int id, int index) {
    HWND child = ChildOf(dialog, id);
    if (!child) return;
    windows[child].currentSelection = index;
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(child));
}

SimWindow* SimWindows::Find(HWND window, bool alive) {
    auto it = windows.find(window);
    return it == windows.end() || (alive && !it->second.alive) ? nullptr : &it->second;
}

void SimWindows::Destroy(HWND window) {
    SimWindow* w = Find(window, true);
    if (!w) return;
    if (w->proc) {
        w->proc(window, WM_DESTROY, 0, 0);
        w->proc(window, WM_NCDESTROY, 0, 0);
    }
    w->alive = false;
    for (HWND child : w->children) windows[child].alive = false;
}

HWND SimWindows::GetDesktopWindow() {
    Record("GetDesktopWindow()");
    return reinterpret_cast<HWND>(0x10010);
}

HWND SimWindows::CreateDialogParamW(HINSTANCE, const char16_t* templateName, HWND parent,
                                    DLGPROC proc, LPARAM param) {
    UINT id = static_cast<UINT>(reinterpret_cast<uintptr_t>(templateName));
    Record("CreateDialogParamW", {id, parent});
    return CreateFromTemplate(id, parent, proc, param, false);
}

INT_PTR SimWindows::DialogBoxParamW(HINSTANCE, const char16_t* templateName, HWND owner,
                                    DLGPROC proc, LPARAM param) {
    UINT id = static_cast<UINT>(reinterpret_cast<uintptr_t>(templateName));
    Record("DialogBoxParamW", {id, owner});
    CrossThreadCall("DialogBoxParamW", owner);
    HWND dialog = CreateFromTemplate(id, owner, proc, param, true);
    if (!dialog) return -1;
    if (!windows[dialog].ended) {
        if (onModalDialog)
            onModalDialog(*this, dialog);
        else
            Click(dialog, IDOK);
    }
    // A dialog the user left open counts as closed.
    INT_PTR result = windows[dialog].ended ? windows[dialog].endResult : IDCANCEL;
    Destroy(dialog);
    return result;
}

BOOL SimWindows::EndDialog(HWND dialog, INT_PTR result) {
    Record("EndDialog", {dialog, result});
    SimWindow* w = Find(dialog, true);
    if (!w || !w->modal) return FALSE;
    w->ended = true;
    w->endResult = result;
    return TRUE;
}

BOOL SimWindows::DestroyWindow(HWND window) {
    Record("DestroyWindow", {window});
    if (!Find(window, true)) return FALSE;
    Destroy(window);
    return TRUE;
}

BOOL SimWindows::IsWindow(HWND window) {
    Record("IsWindow", {window});
    return Find(window, true) != nullptr;
}

HWND SimWindows::GetDlgItem(HWND dialog, int id) {
    Record("GetDlgItem", {dialog, id});
    // Like Windows: a destroyed dialog, or a destroyed control, is no longer found.
    HWND child = Find(dialog, true) ? ChildOf(dialog, id) : nullptr;
    return child && windows[child].alive ? child : nullptr;
}

BOOL SimWindows::SetWindowTextW(HWND window, const char16_t* text) {
    Record("SetWindowTextW", {window, Utf8(text)});
    CrossThreadCall("SetWindowTextW", window);
    SimWindow* w = Find(window, true);
    if (!w) return FALSE;
    w->text = text ? text : u"";
    return TRUE;
}

LRESULT SimWindows::ControlMessage(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case PBM_SETRANGE32:
            w.rangeLow = static_cast<int>(wParam);
            w.rangeHigh = static_cast<int>(lParam);
            return 0;
        case PBM_SETPOS:
            return std::exchange(w.position, static_cast<int>(wParam));
        case CB_RESETCONTENT:
            w.items.clear();
            w.currentSelection = -1;
            return 0;
        case CB_ADDSTRING: {
            std::u16string text = reinterpret_cast<const char16_t*>(lParam);
            if (comboRejects.count(text)) return CB_ERRSPACE;
            size_t index = 0;
            while (index < w.items.size() && Lower(w.items[index].text) <= Lower(text)) ++index;
            w.items.insert(w.items.begin() + index, SimWindow::Item{text, 0});
            if (w.currentSelection >= static_cast<int>(index)) ++w.currentSelection;
            return static_cast<LRESULT>(index);
        }
        case CB_SETITEMDATA:
            if (wParam >= w.items.size()) return CB_ERR;
            w.items[wParam].data = lParam;
            return TRUE;
        case CB_GETITEMDATA:
            return wParam < w.items.size() ? w.items[wParam].data : CB_ERR;
        case CB_SETCURSEL:
            w.currentSelection = wParam < w.items.size() ? static_cast<int>(wParam) : -1;
            return w.currentSelection;
        case CB_GETCURSEL:
            return w.currentSelection;
        case CB_GETCOUNT:
            return static_cast<LRESULT>(w.items.size());
        default:
            return 0;
    }
}

LRESULT SimWindows::SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record("SendMessageW", {window, Hex(message), Hex(wParam), Hex(lParam)});
    CrossThreadCall("SendMessageW", window);
    SimWindow* w = Find(window, true);
    if (!w) return 0;
    if (message == BM_CLICK) {
        SimWindow& parent = windows[w->parent];
        if (parent.proc)
            parent.proc(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(window));
        return 0;
    }
    if (message == WM_SETICON && w->proc) {
        HICON& icon = wParam == ICON_SMALL ? w->smallIcon : w->bigIcon;
        return reinterpret_cast<LRESULT>(std::exchange(icon, reinterpret_cast<HICON>(lParam)));
    }
    if (w->proc) return w->proc(window, message, wParam, lParam);
    return ControlMessage(*w, message, wParam, lParam);
}

BOOL SimWindows::ShowWindow(HWND window, int command) {
    Record("ShowWindow", {window, command});
    CrossThreadCall("ShowWindow", window);
    SimWindow* w = Find(window, true);
    return w ? std::exchange(w->visible, command != SW_HIDE) : FALSE;
}

HWND SimWindows::SetFocus(HWND window) {
    Record("SetFocus", {window});
    return std::exchange(focus, window);
}

LONG_PTR SimWindows::GetWindowLongPtrW(HWND window, int index) {
    SimWindow* w = Find(window, true);
    if (!w) return 0;
    return index == DWLP_USER ? w->user : index == DWLP_MSGRESULT ? w->msgResult : 0;
}

LONG_PTR SimWindows::SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    SimWindow* w = Find(window, true);
    if (!w) return 0;
    return std::exchange(index == DWLP_USER ? w->user : w->msgResult, value);
}

// ---- the message loop, threads and child processes ------------------------------------
//
// A resumed thread runs to its end when the main thread next waits: in GetMessageW, in
// MsgWaitForMultipleObjects (both serve the main thread's messages meanwhile) or in
// WaitForSingleObject (which does not). The tests see one deterministic order of events, and
// nothing is kinder than Windows: GetMessageW returns WM_QUIT only when one was posted.

void SimWindows::CrossThreadCall(const std::string& name, HWND window) {
    if (!runningThread_ || !window || mainThread_ != MainThread::kBlocked) return;
    SimWindow* w = Find(window, false);
    if (!w || w->thread == runningThread_) return;
    faults.push_back(name +
                     " from the worker on a window of the main thread, which waits "
                     "without serving messages: deadlock");
}

BOOL SimWindows::GetMessageW(MSG* msg, HWND, UINT, UINT) {
    memset(msg, 0, sizeof(*msg));
    if (getMessageFails && !runningThread_) {
        getMessageFails = false;
        Record("GetMessageW(error)");
        return Fail(ERROR_INVALID_HANDLE, -1);
    }
    if (!runningThread_ && quitMessages == 0)
        for (auto& t : threads_) RunThread(t.first, MainThread::kServingMessages);
    Record("GetMessageW", {quitMessages > 0 ? "quit" : "empty"});
    if (quitMessages > 0 && !runningThread_) {
        --quitMessages;
        msg->message = WM_QUIT;
        return FALSE;
    }
    faults.push_back(
        "GetMessageW with an empty queue that nothing will post to: the setup waits for ever");
    // Ends the loop here, so that the test reports the fault instead of hanging.
    return Fail(ERROR_INVALID_HANDLE, -1);
}
BOOL SimWindows::IsDialogMessageW(HWND, MSG*) { return FALSE; }
BOOL SimWindows::TranslateMessage(const MSG*) { return FALSE; }
LRESULT SimWindows::DispatchMessageW(const MSG*) { return 0; }

BOOL SimWindows::PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    Record("PostThreadMessageW", {threadId, Hex(message), Hex(wParam), Hex(lParam)});
    if (message == WM_QUIT && threadId == mainThreadId_) ++quitMessages;
    return TRUE;
}

HANDLE SimWindows::CreateThread(void*, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                LPVOID parameter, DWORD flags, DWORD* threadId) {
    Record("CreateThread", {stackSize, parameter, Hex(flags)});
    if (createThreadFails) return Fail(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    HANDLE h = NewHandle("thread");
    threads_[h] = Thread{start, parameter, !(flags & CREATE_SUSPENDED)};
    if (threadId) *threadId = 2;
    return h;
}

void SimWindows::RunThread(HANDLE handle, MainThread waiting) {
    Thread& t = threads_[handle];
    // Only the main thread's waits let another thread run.
    if (t.finished || !t.resumed || runningThread_) return;
    runningThread_ = handle;
    mainThread_ = waiting;
    t.exitCode = t.start(t.parameter);
    t.finished = true;
    mainThread_ = MainThread::kRunning;
    runningThread_ = nullptr;
}

DWORD SimWindows::ResumeThread(HANDLE thread) {
    Record("ResumeThread", {thread});
    auto it = threads_.find(thread);
    if (it == threads_.end()) return static_cast<DWORD>(-1);
    return std::exchange(it->second.resumed, true) ? 0 : 1;
}

DWORD SimWindows::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Record("WaitForSingleObject", {handle, Hex(milliseconds)});
    auto it = threads_.find(handle);
    if (it == threads_.end()) return WAIT_FAILED;
    RunThread(handle, MainThread::kBlocked);
    if (it->second.finished) return WAIT_OBJECT_0;
    if (milliseconds == INFINITE)
        faults.push_back("WaitForSingleObject on a thread that never ends");
    return WAIT_TIMEOUT;
}

BOOL SimWindows::GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    Record("GetExitCodeThread", {thread});
    auto it = threads_.find(thread);
    if (it == threads_.end() || exitCodeThreadUnreadable)
        return Fail(exitCodeThreadUnreadable ? exitCodeThreadError : ERROR_INVALID_HANDLE, FALSE);
    *exitCode = it->second.finished ? it->second.exitCode : 259 /* STILL_ACTIVE */;
    return TRUE;
}

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

// ---- icons, cursors, painting ----------------------------------------------------------

HANDLE SimWindows::LoadImageW(HINSTANCE, const char16_t* name, UINT type, int cx, int cy,
                              UINT flags) {
    Record("LoadImageW", {reinterpret_cast<uintptr_t>(name), type, cx, cy, Hex(flags)});
    return NewHandle("icon");
}

HICON SimWindows::LoadIconW(HINSTANCE, const char16_t* name) {
    Record("LoadIconW", {reinterpret_cast<uintptr_t>(name)});
    return reinterpret_cast<HICON>(0x7100);  // shared: never destroyed
}

HCURSOR SimWindows::LoadCursorW(HINSTANCE instance, const char16_t* name) {
    Record("LoadCursorW", {instance, reinterpret_cast<uintptr_t>(name)});
    return reinterpret_cast<HCURSOR>(0x7200 + reinterpret_cast<uintptr_t>(name));
}

BOOL SimWindows::DestroyIcon(HICON icon) {
    Record("DestroyIcon", {icon});
    return handles_.erase(icon) ? TRUE : FALSE;
}

HCURSOR SimWindows::SetCursor(HCURSOR newCursor) {
    Record("SetCursor", {newCursor});
    return std::exchange(cursor, newCursor);
}

int SimWindows::GetSystemMetrics(int index) {
    if (index == SM_CXICON || index == SM_CYICON) return 32;
    return index == SM_CXSMICON || index == SM_CYSMICON ? 16 : 0;
}

BOOL SimWindows::IsIconic(HWND) { return iconic; }
HDC SimWindows::BeginPaint(HWND window, PAINTSTRUCT* paint) {
    Record("BeginPaint", {window});
    memset(paint, 0, sizeof(*paint));
    paint->hdc = reinterpret_cast<HDC>(0x7300);
    return paint->hdc;
}
BOOL SimWindows::EndPaint(HWND window, const PAINTSTRUCT*) {
    Record("EndPaint", {window});
    return TRUE;
}
BOOL SimWindows::GetClientRect(HWND, RECT* rect) {
    *rect = RECT{0, 0, 279, 70};
    return TRUE;
}
BOOL SimWindows::DrawIcon(HDC, int x, int y, HICON icon) {
    Record("DrawIcon", {x, y, icon});
    return TRUE;
}

// ---- files and shutdown ----------------------------------------------------------------

DWORD SimWindows::GetFileAttributesW(const char16_t* path) {
    Record("GetFileAttributesW", {Utf8(path)});
    std::u16string p = path ? path : u"";
    if (directories.count(p)) return FILE_ATTRIBUTE_DIRECTORY;
    if (files.count(p) || packages.count(p)) return FILE_ATTRIBUTE_NORMAL;
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
}

BOOL SimWindows::ExitWindowsEx(UINT flags, DWORD reason) {
    Record("ExitWindowsEx", {Hex(flags), reason});
    if (exitWindowsFails) return Fail(ERROR_ACCESS_DENIED, FALSE);
    return TRUE;
}
