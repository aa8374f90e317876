// The operations of the seam, listed once. The interface (Win32Api), the overrides of the
// Windows side (RealWin32) and of the simulated Windows (SimWindows), and the Windows side's
// forwarding bodies and user32 table are all made from this list.
#pragma once

#include "seam/win32_types.h"

// KAVRIN_SEAM_OPERATIONS(IMPORTED, USER32, OWN): each entry is
// KIND(result, name, (parameters), (arguments of the real call)), where KIND says how the
// Windows side reaches the real function of the same name:
// - IMPORTED: called directly, from kernel32 or advapi32, which the executable imports;
// - USER32: called through the table of user32 functions loaded from the system directory;
// - OWN: a body of its own in seam/real_win32.cpp (the arguments are left empty).
// In the arguments, W() turns char16_t text into wchar_t; results pass through U(), which turns
// wchar_t text back into char16_t and leaves anything else as it is.
#define KAVRIN_SEAM_OPERATIONS(IMPORTED, USER32, OWN)                                              \
    /* kernel32: modules */                                                                        \
    IMPORTED(DWORD, GetModuleFileNameW, (HMODULE module, char16_t* path, DWORD size),              \
             (module, W(path), size))                                                              \
    IMPORTED(HMODULE, GetModuleHandleW, (const char16_t* name), (W(name)))                         \
    IMPORTED(HMODULE, GetModuleHandleA, (const char* name), (name))                                \
    IMPORTED(HMODULE, LoadLibraryExW, (const char16_t* path, HANDLE reserved, DWORD flags),        \
             (W(path), reserved, flags))                                                           \
    IMPORTED(FARPROC, GetProcAddress, (HMODULE module, const char* name), (module, name))          \
    IMPORTED(BOOL, FreeLibrary, (HMODULE module), (module))                                        \
    IMPORTED(UINT, GetSystemDirectoryW, (char16_t* buffer, UINT size), (W(buffer), size))          \
    /* kernel32: process, errors, version, locale */                                               \
    IMPORTED(const char16_t*, GetCommandLineW, (), ())                                             \
    IMPORTED(DWORD, GetLastError, (), ())                                                          \
    /* no result to pass through U() */                                                            \
    OWN(void, SetLastError, (DWORD error), )                                                       \
    /* deprecated in the platform headers: its body silences the warning */                        \
    OWN(BOOL, GetVersionExW, (OSVERSIONINFOW * info), )                                            \
    IMPORTED(LANGID, GetUserDefaultLangID, (), ())                                                 \
    IMPORTED(HANDLE, GetCurrentProcess, (), ())                                                    \
    IMPORTED(DWORD, GetCurrentThreadId, (), ())                                                    \
    IMPORTED(int, CompareStringW,                                                                  \
             (LCID locale, DWORD flags, const char16_t* a, int aLength, const char16_t* b,         \
              int bLength),                                                                        \
             (locale, flags, W(a), aLength, W(b), bLength))                                        \
    IMPORTED(int, lstrcmpW, (const char16_t* a, const char16_t* b), (W(a), W(b)))                  \
    /* kernel32: handles, synchronisation, threads */                                              \
    IMPORTED(HANDLE, CreateMutexW, (void* attributes, BOOL initialOwner, const char16_t* name),    \
             (static_cast<LPSECURITY_ATTRIBUTES>(attributes), initialOwner, W(name)))              \
    IMPORTED(BOOL, CloseHandle, (HANDLE handle), (handle))                                         \
    IMPORTED(HANDLE, CreateThread,                                                                 \
             (void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,  \
              DWORD flags, DWORD* threadId),                                                       \
             (static_cast<LPSECURITY_ATTRIBUTES>(attributes), stackSize, start, parameter, flags,  \
              threadId))                                                                           \
    IMPORTED(DWORD, ResumeThread, (HANDLE thread), (thread))                                       \
    IMPORTED(DWORD, WaitForSingleObject, (HANDLE handle, DWORD milliseconds),                      \
             (handle, milliseconds))                                                               \
    IMPORTED(BOOL, GetExitCodeThread, (HANDLE thread, DWORD * exitCode), (thread, exitCode))       \
    /* kernel32: child processes and waiting while serving messages */                             \
    IMPORTED(                                                                                      \
        BOOL, CreateProcessW,                                                                      \
        (const char16_t* application, char16_t* commandLine, void* processAttributes,              \
         void* threadAttributes, BOOL inheritHandles, DWORD flags, void* environment,              \
         const char16_t* directory, STARTUPINFOW* startup, PROCESS_INFORMATION* process),          \
        (W(application), W(commandLine), static_cast<LPSECURITY_ATTRIBUTES>(processAttributes),    \
         static_cast<LPSECURITY_ATTRIBUTES>(threadAttributes), inheritHandles, flags, environment, \
         W(directory), startup, process))                                                          \
    IMPORTED(BOOL, GetExitCodeProcess, (HANDLE process, DWORD * exitCode), (process, exitCode))    \
    IMPORTED(int, lstrlenW, (const char16_t* text), (W(text)))                                     \
    USER32(DWORD, MsgWaitForMultipleObjects,                                                       \
           (DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds, DWORD wakeMask), \
           (count, handles, waitAll, milliseconds, wakeMask))                                      \
    USER32(BOOL, PeekMessageW, (MSG * msg, HWND window, UINT first, UINT last, UINT remove),       \
           (msg, window, first, last, remove))                                                     \
    /* kernel32: memory and message formatting */                                                  \
    IMPORTED(HGLOBAL, GlobalAlloc, (UINT flags, SIZE_T bytes), (flags, bytes))                     \
    IMPORTED(HGLOBAL, GlobalFree, (HGLOBAL memory), (memory))                                      \
    IMPORTED(HLOCAL, LocalFree, (HLOCAL memory), (memory))                                         \
    /* Always used with FORMAT_MESSAGE_ARGUMENT_ARRAY: the arguments are an array of DWORD_PTR. */ \
    IMPORTED(DWORD, FormatMessageW,                                                                \
             (DWORD flags, const void* source, DWORD messageId, DWORD languageId,                  \
              char16_t* buffer, DWORD size, DWORD_PTR* arguments),                                 \
             (flags, source, messageId, languageId, W(buffer), size,                               \
              reinterpret_cast<va_list*>(arguments)))                                              \
    /* advapi32: security and registry */                                                          \
    IMPORTED(BOOL, AllocateAndInitializeSid,                                                       \
             (SID_IDENTIFIER_AUTHORITY * authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,      \
              DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID * sid),                       \
             (authority, count, s0, s1, s2, s3, s4, s5, s6, s7, sid))                              \
    IMPORTED(PVOID, FreeSid, (PSID sid), (sid))                                                    \
    IMPORTED(BOOL, EqualSid, (PSID a, PSID b), (a, b))                                             \
    IMPORTED(BOOL, OpenProcessToken, (HANDLE process, DWORD access, HANDLE * token),               \
             (process, access, token))                                                             \
    IMPORTED(BOOL, GetTokenInformation,                                                            \
             (HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,          \
              DWORD * returnLength),                                                               \
             (token, infoClass, info, length, returnLength))                                       \
    IMPORTED(LSTATUS, RegOpenKeyExW,                                                               \
             (HKEY key, const char16_t* subKey, DWORD options, REGSAM access, HKEY* result),       \
             (key, W(subKey), options, access, result))                                            \
    IMPORTED(                                                                                      \
        LSTATUS, RegQueryValueExW,                                                                 \
        (HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size),   \
        (key, W(name), reserved, type, data, size))                                                \
    IMPORTED(LSTATUS, RegCloseKey, (HKEY key), (key))                                              \
    /* files and shutdown */                                                                       \
    IMPORTED(DWORD, GetFileAttributesW, (const char16_t* path), (W(path)))                         \
    USER32(BOOL, ExitWindowsEx, (UINT flags, DWORD reason), (flags, reason))                       \
    /* version: loaded from the system directory on first use */                                   \
    OWN(DWORD, GetFileVersionInfoSizeW, (const char16_t* path, DWORD* handle), )                   \
    OWN(BOOL, GetFileVersionInfoW,                                                                 \
        (const char16_t* path, DWORD handle, DWORD size, LPVOID data), )                           \
    OWN(BOOL, VerQueryValueW,                                                                      \
        (const void* block, const char16_t* subBlock, LPVOID* buffer, UINT* length), )             \
    /* user32: text, resources, message boxes */                                                   \
    USER32(char16_t*, CharNextW, (const char16_t* p), (W(p)))                                      \
    USER32(char16_t*, CharPrevW, (const char16_t* start, const char16_t* p), (W(start), W(p)))     \
    USER32(int, LoadStringW, (HINSTANCE instance, UINT id, char16_t* buffer, int size),            \
           (instance, id, W(buffer), size))                                                        \
    USER32(int, MessageBoxW,                                                                       \
           (HWND owner, const char16_t* text, const char16_t* caption, UINT type),                 \
           (owner, W(text), W(caption), type))                                                     \
    /* user32: windows, dialogs and the message loop */                                            \
    USER32(HWND, GetDesktopWindow, (), ())                                                         \
    USER32(HWND, CreateDialogParamW,                                                               \
           (HINSTANCE instance, const char16_t* templateName, HWND parent, DLGPROC proc,           \
            LPARAM param),                                                                         \
           (instance, W(templateName), parent, proc, param))                                       \
    USER32(INT_PTR, DialogBoxParamW,                                                               \
           (HINSTANCE instance, const char16_t* templateName, HWND parent, DLGPROC proc,           \
            LPARAM param),                                                                         \
           (instance, W(templateName), parent, proc, param))                                       \
    USER32(BOOL, EndDialog, (HWND dialog, INT_PTR result), (dialog, result))                       \
    USER32(BOOL, DestroyWindow, (HWND window), (window))                                           \
    USER32(BOOL, IsWindow, (HWND window), (window))                                                \
    USER32(HWND, GetDlgItem, (HWND dialog, int id), (dialog, id))                                  \
    USER32(BOOL, SetWindowTextW, (HWND window, const char16_t* text), (window, W(text)))           \
    USER32(LRESULT, SendMessageW, (HWND window, UINT message, WPARAM wParam, LPARAM lParam),       \
           (window, message, wParam, lParam))                                                      \
    USER32(BOOL, ShowWindow, (HWND window, int command), (window, command))                        \
    USER32(HWND, SetFocus, (HWND window), (window))                                                \
    USER32(BOOL, GetMessageW, (MSG * msg, HWND window, UINT first, UINT last),                     \
           (msg, window, first, last))                                                             \
    USER32(BOOL, IsDialogMessageW, (HWND dialog, MSG * msg), (dialog, msg))                        \
    USER32(BOOL, TranslateMessage, (const MSG* msg), (msg))                                        \
    USER32(LRESULT, DispatchMessageW, (const MSG* msg), (msg))                                     \
    USER32(BOOL, PostThreadMessageW, (DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam), \
           (threadId, message, wParam, lParam))                                                    \
    /* the 32-bit user32 has no *Ptr functions */                                                  \
    OWN(LONG_PTR, GetWindowLongPtrW, (HWND window, int index), )                                   \
    OWN(LONG_PTR, SetWindowLongPtrW, (HWND window, int index, LONG_PTR value), )                   \
    /* user32: icons, cursors and painting */                                                      \
    USER32(HANDLE, LoadImageW,                                                                     \
           (HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy, UINT flags),      \
           (instance, W(name), type, cx, cy, flags))                                               \
    USER32(HICON, LoadIconW, (HINSTANCE instance, const char16_t* name), (instance, W(name)))      \
    USER32(HCURSOR, LoadCursorW, (HINSTANCE instance, const char16_t* name), (instance, W(name)))  \
    USER32(BOOL, DestroyIcon, (HICON icon), (icon))                                                \
    USER32(HCURSOR, SetCursor, (HCURSOR cursor), (cursor))                                         \
    USER32(int, GetSystemMetrics, (int index), (index))                                            \
    USER32(BOOL, IsIconic, (HWND window), (window))                                                \
    USER32(HDC, BeginPaint, (HWND window, PAINTSTRUCT * paint), (window, paint))                   \
    USER32(BOOL, EndPaint, (HWND window, const PAINTSTRUCT* paint), (window, paint))               \
    USER32(BOOL, GetClientRect, (HWND window, RECT * rect), (window, rect))                        \
    USER32(BOOL, DrawIcon, (HDC dc, int x, int y, HICON icon), (dc, x, y, icon))

// The declaration of every operation on a side that implements the interface.
#define KAVRIN_SEAM_OVERRIDE(result, name, parameters, arguments) result name parameters override;
#define KAVRIN_SEAM_OVERRIDES \
    KAVRIN_SEAM_OPERATIONS(KAVRIN_SEAM_OVERRIDE, KAVRIN_SEAM_OVERRIDE, KAVRIN_SEAM_OVERRIDE)
