#include "seam/real_win32.h"

namespace {

// Loads `name` by its full path in the system directory, with the library's own imports
// searched from there as well; null when it cannot be loaded. The seam's own copy of the
// platform utilities' rule, with the real API: the seam includes nothing outside itself.
HMODULE LoadFromSystemDirectory(const wchar_t* name) {
    wchar_t path[MAX_PATH + 32];
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return nullptr;
    if (path[length - 1] != L'\\') path[length++] = L'\\';
    size_t n = 0;
    while (name[n]) ++n;
    if (length + n >= sizeof(path) / sizeof(path[0])) return nullptr;
    for (size_t i = 0; i <= n; ++i) path[length + i] = name[i];
    return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// A function of a library the seam loaded, typed as the field it is stored in.
template <typename Fn>
Fn RealExport(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// user32 is not imported: Wine's user32 itself imports version.dll, and an import would be
// resolved from the setup's own folder first, where a planted version.dll could wait. It is
// loaded from the system directory instead, with its own imports searched from there.
#define KAVRIN_USER32_FUNCTIONS(X) \
    X(BeginPaint)                  \
    X(CharNextW)                   \
    X(CharPrevW)                   \
    X(CreateDialogParamW)          \
    X(DestroyIcon)                 \
    X(DestroyWindow)               \
    X(DialogBoxParamW)             \
    X(DispatchMessageW)            \
    X(DrawIcon)                    \
    X(EndDialog)                   \
    X(EndPaint)                    \
    X(ExitWindowsEx)               \
    X(GetClientRect)               \
    X(GetDesktopWindow)            \
    X(GetDlgItem)                  \
    X(GetMessageW)                 \
    X(GetSystemMetrics)            \
    X(IsDialogMessageW)            \
    X(IsIconic)                    \
    X(IsWindow)                    \
    X(LoadCursorW)                 \
    X(LoadIconW)                   \
    X(LoadImageW)                  \
    X(LoadStringW)                 \
    X(MessageBoxW)                 \
    X(MsgWaitForMultipleObjects)   \
    X(PeekMessageW)                \
    X(PostThreadMessageW)          \
    X(SendMessageW)                \
    X(SetCursor)                   \
    X(SetFocus)                    \
    X(SetWindowTextW)              \
    X(ShowWindow)                  \
    X(TranslateMessage)            \
    KAVRIN_USER32_WINDOW_LONG(X)

// A window's pointer-sized slots (DWLP_USER holds a dialog's `this`): on x64 only the *Ptr
// functions keep all 64 bits; 32-bit user32 has no *Ptr exports (its headers map them to the
// 32-bit ones), so there the 32-bit functions are the whole value.
#ifdef _WIN64
#define KAVRIN_USER32_WINDOW_LONG(X) X(GetWindowLongPtrW) X(SetWindowLongPtrW)
#else
#define KAVRIN_USER32_WINDOW_LONG(X) X(GetWindowLongW) X(SetWindowLongW)
#endif

struct User32Functions {
#define KAVRIN_USER32_FIELD(name) decltype(&::name) name = nullptr;
    KAVRIN_USER32_FUNCTIONS(KAVRIN_USER32_FIELD)
#undef KAVRIN_USER32_FIELD
};
User32Functions g_user32;

}  // namespace

bool RealWin32::BindUser32() {
    HMODULE user32 = LoadFromSystemDirectory(L"user32.dll");
    if (!user32) return false;
    bool complete = true;
#define KAVRIN_USER32_BIND(name)                                        \
    g_user32.name = RealExport<decltype(g_user32.name)>(user32, #name); \
    complete = complete && g_user32.name != nullptr;
    KAVRIN_USER32_FUNCTIONS(KAVRIN_USER32_BIND)
#undef KAVRIN_USER32_BIND
    // Kept loaded for the life of the process.
    return complete;
}

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
DWORD RealWin32::FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                char16_t* buffer, DWORD size, DWORD_PTR* arguments) {
    return ::FormatMessageW(flags, source, messageId, languageId, W(buffer), size,
                            reinterpret_cast<va_list*>(arguments));
}
BOOL RealWin32::AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                                         DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                         DWORD s7, PSID* sid) {
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
    version_ = LoadFromSystemDirectory(L"version.dll");
    if (!version_) return false;
    getFileVersionInfoSize_ =
        RealExport<decltype(getFileVersionInfoSize_)>(version_, "GetFileVersionInfoSizeW");
    getFileVersionInfo_ =
        RealExport<decltype(getFileVersionInfo_)>(version_, "GetFileVersionInfoW");
    verQueryValue_ = RealExport<decltype(verQueryValue_)>(version_, "VerQueryValueW");
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

char16_t* RealWin32::CharNextW(const char16_t* p) { return U(g_user32.CharNextW(W(p))); }
char16_t* RealWin32::CharPrevW(const char16_t* start, const char16_t* p) {
    return U(g_user32.CharPrevW(W(start), W(p)));
}
int RealWin32::LoadStringW(HINSTANCE instance, UINT id, char16_t* buffer, int size) {
    return g_user32.LoadStringW(instance, id, W(buffer), size);
}
int RealWin32::MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    return g_user32.MessageBoxW(owner, W(text), W(caption), type);
}
HWND RealWin32::GetDesktopWindow() { return g_user32.GetDesktopWindow(); }
HWND RealWin32::CreateDialogParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                   DLGPROC proc, LPARAM param) {
    return g_user32.CreateDialogParamW(instance, W(templateName), parent, proc, param);
}
INT_PTR RealWin32::DialogBoxParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                   DLGPROC proc, LPARAM param) {
    return g_user32.DialogBoxParamW(instance, W(templateName), parent, proc, param);
}
BOOL RealWin32::EndDialog(HWND dialog, INT_PTR result) {
    return g_user32.EndDialog(dialog, result);
}
BOOL RealWin32::DestroyWindow(HWND window) { return g_user32.DestroyWindow(window); }
BOOL RealWin32::IsWindow(HWND window) { return g_user32.IsWindow(window); }
HWND RealWin32::GetDlgItem(HWND dialog, int id) { return g_user32.GetDlgItem(dialog, id); }
BOOL RealWin32::SetWindowTextW(HWND window, const char16_t* text) {
    return g_user32.SetWindowTextW(window, W(text));
}
LRESULT RealWin32::SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_user32.SendMessageW(window, message, wParam, lParam);
}
BOOL RealWin32::ShowWindow(HWND window, int command) {
    return g_user32.ShowWindow(window, command);
}
HWND RealWin32::SetFocus(HWND window) { return g_user32.SetFocus(window); }
BOOL RealWin32::GetMessageW(MSG* msg, HWND window, UINT first, UINT last) {
    return g_user32.GetMessageW(msg, window, first, last);
}
BOOL RealWin32::IsDialogMessageW(HWND dialog, MSG* msg) {
    return g_user32.IsDialogMessageW(dialog, msg);
}
BOOL RealWin32::TranslateMessage(const MSG* msg) { return g_user32.TranslateMessage(msg); }
LRESULT RealWin32::DispatchMessageW(const MSG* msg) { return g_user32.DispatchMessageW(msg); }
BOOL RealWin32::PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return g_user32.PostThreadMessageW(threadId, message, wParam, lParam);
}

DWORD RealWin32::GetFileAttributesW(const char16_t* path) { return ::GetFileAttributesW(W(path)); }
BOOL RealWin32::ExitWindowsEx(UINT flags, DWORD reason) {
    return g_user32.ExitWindowsEx(flags, reason);
}
#ifdef _WIN64
LONG_PTR RealWin32::GetWindowLongPtrW(HWND window, int index) {
    return g_user32.GetWindowLongPtrW(window, index);
}
LONG_PTR RealWin32::SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    return g_user32.SetWindowLongPtrW(window, index, value);
}
#else
LONG_PTR RealWin32::GetWindowLongPtrW(HWND window, int index) {
    return static_cast<LONG_PTR>(g_user32.GetWindowLongW(window, index));
}
LONG_PTR RealWin32::SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
    return static_cast<LONG_PTR>(g_user32.SetWindowLongW(window, index, static_cast<LONG>(value)));
}
#endif
HANDLE RealWin32::LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy,
                             UINT flags) {
    return g_user32.LoadImageW(instance, W(name), type, cx, cy, flags);
}
HICON RealWin32::LoadIconW(HINSTANCE instance, const char16_t* name) {
    return g_user32.LoadIconW(instance, W(name));
}
HCURSOR RealWin32::LoadCursorW(HINSTANCE instance, const char16_t* name) {
    return g_user32.LoadCursorW(instance, W(name));
}
BOOL RealWin32::DestroyIcon(HICON icon) { return g_user32.DestroyIcon(icon); }
HCURSOR RealWin32::SetCursor(HCURSOR cursor) { return g_user32.SetCursor(cursor); }
int RealWin32::GetSystemMetrics(int index) { return g_user32.GetSystemMetrics(index); }
BOOL RealWin32::IsIconic(HWND window) { return g_user32.IsIconic(window); }
HDC RealWin32::BeginPaint(HWND window, PAINTSTRUCT* paint) {
    return g_user32.BeginPaint(window, paint);
}
BOOL RealWin32::EndPaint(HWND window, const PAINTSTRUCT* paint) {
    return g_user32.EndPaint(window, paint);
}
BOOL RealWin32::GetClientRect(HWND window, RECT* rect) {
    return g_user32.GetClientRect(window, rect);
}
BOOL RealWin32::DrawIcon(HDC dc, int x, int y, HICON icon) {
    return g_user32.DrawIcon(dc, x, y, icon);
}
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
    return g_user32.MsgWaitForMultipleObjects(count, handles, waitAll, milliseconds, wakeMask);
}
BOOL RealWin32::PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) {
    return g_user32.PeekMessageW(msg, window, first, last, remove);
}
