#include "seam/real_win32.h"

#include "fw/system_library.h"

namespace {
inline LPCWSTR W(const char16_t* s) { return reinterpret_cast<LPCWSTR>(s); }
inline LPWSTR W(char16_t* s) { return reinterpret_cast<LPWSTR>(s); }
inline char16_t* U(LPWSTR s) { return reinterpret_cast<char16_t*>(s); }
inline const char16_t* U(LPCWSTR s) { return reinterpret_cast<const char16_t*>(s); }
}  // namespace

DWORD RealWin32::GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    return ::GetModuleFileNameW(module, W(path), size);
}
HMODULE RealWin32::GetModuleHandleW(const char16_t* name) { return ::GetModuleHandleW(W(name)); }
HMODULE RealWin32::GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }
HMODULE RealWin32::LoadLibraryExW(const char16_t* path, HANDLE reserved, DWORD flags) {
    return ::LoadLibraryExW(W(path), reserved, flags);
}
FARPROC RealWin32::GetProcAddress(HMODULE module, const char* name) {
    return ::GetProcAddress(module, name);
}
BOOL RealWin32::FreeLibrary(HMODULE module) { return ::FreeLibrary(module); }
UINT RealWin32::GetSystemDirectoryW(char16_t* buffer, UINT size) {
    return ::GetSystemDirectoryW(W(buffer), size);
}
const char16_t* RealWin32::GetCommandLineW() { return U(::GetCommandLineW()); }
DWORD RealWin32::GetLastError() { return ::GetLastError(); }
void RealWin32::SetLastError(DWORD error) { ::SetLastError(error); }
BOOL RealWin32::GetVersionExW(OSVERSIONINFOW* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(info);
#pragma GCC diagnostic pop
}
LANGID RealWin32::GetUserDefaultLangID() { return ::GetUserDefaultLangID(); }
HANDLE RealWin32::GetCurrentProcess() { return ::GetCurrentProcess(); }
DWORD RealWin32::GetCurrentThreadId() { return ::GetCurrentThreadId(); }
int RealWin32::CompareStringW(LCID locale, DWORD flags, const char16_t* a, int aLength,
                              const char16_t* b, int bLength) {
    return ::CompareStringW(locale, flags, W(a), aLength, W(b), bLength);
}
int RealWin32::lstrcmpW(const char16_t* a, const char16_t* b) { return ::lstrcmpW(W(a), W(b)); }
HANDLE RealWin32::CreateMutexW(void* attributes, BOOL initialOwner, const char16_t* name) {
    return ::CreateMutexW(static_cast<LPSECURITY_ATTRIBUTES>(attributes), initialOwner, W(name));
}
BOOL RealWin32::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }
HANDLE RealWin32::CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, DWORD* threadId) {
    return ::CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(attributes), stackSize, start,
                          parameter, flags, threadId);
}
DWORD RealWin32::ResumeThread(HANDLE thread) { return ::ResumeThread(thread); }
DWORD RealWin32::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}
BOOL RealWin32::GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    return ::GetExitCodeThread(thread, exitCode);
}
HGLOBAL RealWin32::GlobalAlloc(UINT flags, SIZE_T bytes) { return ::GlobalAlloc(flags, bytes); }
HGLOBAL RealWin32::GlobalFree(HGLOBAL memory) { return ::GlobalFree(memory); }
HLOCAL RealWin32::LocalFree(HLOCAL memory) { return ::LocalFree(memory); }
DWORD RealWin32::FormatMessageW(DWORD flags, const void* source, DWORD messageId,
                                DWORD languageId, char16_t* buffer, DWORD size,
                                DWORD_PTR* arguments) {
    return ::FormatMessageW(flags, source, messageId, languageId, W(buffer), size,
                            reinterpret_cast<va_list*>(arguments));
}
BOOL RealWin32::AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE count,
                                         DWORD s0, DWORD s1, DWORD s2, DWORD s3, DWORD s4,
                                         DWORD s5, DWORD s6, DWORD s7, PSID* sid) {
    return ::AllocateAndInitializeSid(authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid);
}
PVOID RealWin32::FreeSid(PSID sid) { return ::FreeSid(sid); }
BOOL RealWin32::EqualSid(PSID a, PSID b) { return ::EqualSid(a, b); }
BOOL RealWin32::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    return ::OpenProcessToken(process, access, token);
}
BOOL RealWin32::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                    DWORD length, DWORD* returnLength) {
    return ::GetTokenInformation(token, infoClass, info, length, returnLength);
}
LSTATUS RealWin32::RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM access,
                                 HKEY* result) {
    return ::RegOpenKeyExW(key, W(subKey), options, access, result);
}
LSTATUS RealWin32::RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type,
                                    BYTE* data, DWORD* size) {
    return ::RegQueryValueExW(key, W(name), reserved, type, data, size);
}
LSTATUS RealWin32::RegCloseKey(HKEY key) { return ::RegCloseKey(key); }

bool RealWin32::BindVersionLibrary() {
    if (version_) return getFileVersionInfoSize_ && getFileVersionInfo_ && verQueryValue_;
    version_ = LoadSystemLibrary(u"version.dll");
    if (!version_) return false;
    getFileVersionInfoSize_ = reinterpret_cast<decltype(getFileVersionInfoSize_)>(
        reinterpret_cast<void*>(::GetProcAddress(version_, "GetFileVersionInfoSizeW")));
    getFileVersionInfo_ = reinterpret_cast<decltype(getFileVersionInfo_)>(
        reinterpret_cast<void*>(::GetProcAddress(version_, "GetFileVersionInfoW")));
    verQueryValue_ = reinterpret_cast<decltype(verQueryValue_)>(
        reinterpret_cast<void*>(::GetProcAddress(version_, "VerQueryValueW")));
    return getFileVersionInfoSize_ && getFileVersionInfo_ && verQueryValue_;
}
DWORD RealWin32::GetFileVersionInfoSizeW(const char16_t* path, DWORD* handle) {
    if (!BindVersionLibrary()) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return getFileVersionInfoSize_(W(path), handle);
}
BOOL RealWin32::GetFileVersionInfoW(const char16_t* path, DWORD handle, DWORD size, LPVOID data) {
    if (!BindVersionLibrary()) {
        ::SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return getFileVersionInfo_(W(path), handle, size, data);
}
BOOL RealWin32::VerQueryValueW(const void* block, const char16_t* subBlock, LPVOID* buffer,
                               UINT* length) {
    if (!BindVersionLibrary()) return FALSE;
    return verQueryValue_(block, W(subBlock), buffer, length);
}

char16_t* RealWin32::CharNextW(const char16_t* p) { return U(::CharNextW(W(p))); }
char16_t* RealWin32::CharPrevW(const char16_t* start, const char16_t* p) {
    return U(::CharPrevW(W(start), W(p)));
}
int RealWin32::LoadStringW(HINSTANCE instance, UINT id, char16_t* buffer, int size) {
    return ::LoadStringW(instance, id, W(buffer), size);
}
int RealWin32::MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    return ::MessageBoxW(owner, W(text), W(caption), type);
}
HWND RealWin32::GetDesktopWindow() { return ::GetDesktopWindow(); }
HWND RealWin32::CreateDialogParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                   DLGPROC proc, LPARAM param) {
    return ::CreateDialogParamW(instance, W(templateName), parent, proc, param);
}
INT_PTR RealWin32::DialogBoxParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                   DLGPROC proc, LPARAM param) {
    return ::DialogBoxParamW(instance, W(templateName), parent, proc, param);
}
BOOL RealWin32::EndDialog(HWND dialog, INT_PTR result) { return ::EndDialog(dialog, result); }
BOOL RealWin32::DestroyWindow(HWND window) { return ::DestroyWindow(window); }
BOOL RealWin32::IsWindow(HWND window) { return ::IsWindow(window); }
HWND RealWin32::GetDlgItem(HWND dialog, int id) { return ::GetDlgItem(dialog, id); }
BOOL RealWin32::SetWindowTextW(HWND window, const char16_t* text) {
    return ::SetWindowTextW(window, W(text));
}
LRESULT RealWin32::SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(window, message, wParam, lParam);
}
BOOL RealWin32::ShowWindow(HWND window, int command) { return ::ShowWindow(window, command); }
HWND RealWin32::SetFocus(HWND window) { return ::SetFocus(window); }
BOOL RealWin32::GetMessageW(MSG* msg, HWND window, UINT first, UINT last) {
    return ::GetMessageW(msg, window, first, last);
}
BOOL RealWin32::IsDialogMessageW(HWND dialog, MSG* msg) { return ::IsDialogMessageW(dialog, msg); }
BOOL RealWin32::TranslateMessage(const MSG* msg) { return ::TranslateMessage(msg); }
LRESULT RealWin32::DispatchMessageW(const MSG* msg) { return ::DispatchMessageW(msg); }
BOOL RealWin32::PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessageW(threadId, message, wParam, lParam);
}

DWORD RealWin32::GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(W(path)); }
BOOL RealWin32::ExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }
LONG_PTR RealWin32::GetWindowLongPtrW(HWND window, int index) {
    return ::GetWindowLongPtrW(window, index);
}
LONG_PTR RealWin32::SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    return ::SetWindowLongPtrW(window, index, value);
}
HANDLE RealWin32::LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy,
                             UINT flags) {
    return ::LoadImageW(instance, W(name), type, cx, cy, flags);
}
HICON RealWin32::LoadIconW(HINSTANCE instance, const char16_t* name) {
    return ::LoadIconW(instance, W(name));
}
HCURSOR RealWin32::LoadCursorW(HINSTANCE instance, const char16_t* name) {
    return ::LoadCursorW(instance, W(name));
}
BOOL RealWin32::DestroyIcon(HICON icon) { return ::DestroyIcon(icon); }
HCURSOR RealWin32::SetCursor(HCURSOR cursor) { return ::SetCursor(cursor); }
int RealWin32::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }
BOOL RealWin32::IsIconic(HWND window) { return ::IsIconic(window); }
HDC RealWin32::BeginPaint(HWND window, PAINTSTRUCT* paint) { return ::BeginPaint(window, paint); }
BOOL RealWin32::EndPaint(HWND window, const PAINTSTRUCT* paint) { return ::EndPaint(window, paint); }
BOOL RealWin32::GetClientRect(HWND window, RECT* rect) { return ::GetClientRect(window, rect); }
BOOL RealWin32::DrawIcon(HDC dc, int x, int y, HICON icon) { return ::DrawIcon(dc, x, y, icon); }
BOOL RealWin32::CreateProcessW(const char16_t* application, char16_t* commandLine,
                               void* processAttributes, void* threadAttributes, BOOL inheritHandles,
                               DWORD flags, void* environment, const char16_t* directory,
                               STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
    return ::CreateProcessW(W(application), W(commandLine),
                            static_cast<LPSECURITY_ATTRIBUTES>(processAttributes),
                            static_cast<LPSECURITY_ATTRIBUTES>(threadAttributes), inheritHandles,
                            flags, environment, W(directory), startup, process);
}
BOOL RealWin32::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
    return ::GetExitCodeProcess(process, exitCode);
}
int RealWin32::lstrlenW(const char16_t* text) { return ::lstrlenW(W(text)); }
DWORD RealWin32::MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                           DWORD milliseconds, DWORD wakeMask) {
    return ::MsgWaitForMultipleObjects(count, handles, waitAll, milliseconds, wakeMask);
}
BOOL RealWin32::PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    return ::PeekMessageW(msg, window, first, last, remove);
}
