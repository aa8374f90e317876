// The seam: every system call the setup makes goes through this one interface.
//
// Each operation mirrors the Win32 function of the same name, with the same arguments and
// results (text as char16_t). Functions that the setup looks up at run time (the trust
// provider, CheckTokenMembership, IsWow64Process2, ...) are not here: they are reached through
// LoadLibraryExW/GetProcAddress, exactly as on Windows.
//
// The Windows build forwards to the real API (RealWin32). The host tests install a simulated
// Windows that records every call.
#pragma once

#include "seam/win32_types.h"

class Win32Api {
public:
    virtual ~Win32Api() = default;

    // kernel32: modules
    virtual DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) = 0;
    virtual HMODULE GetModuleHandleW(const char16_t* name) = 0;
    virtual HMODULE GetModuleHandleA(const char* name) = 0;
    virtual HMODULE LoadLibraryExW(const char16_t* path, HANDLE reserved, DWORD flags) = 0;
    virtual FARPROC GetProcAddress(HMODULE module, const char* name) = 0;
    virtual BOOL FreeLibrary(HMODULE module) = 0;
    virtual UINT GetSystemDirectoryW(char16_t* buffer, UINT size) = 0;

    // kernel32: process, errors, version, locale
    virtual const char16_t* GetCommandLineW() = 0;
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
    virtual BOOL GetVersionExW(OSVERSIONINFOW* info) = 0;
    virtual LANGID GetUserDefaultLangID() = 0;
    virtual HANDLE GetCurrentProcess() = 0;
    virtual DWORD GetCurrentThreadId() = 0;
    virtual int CompareStringW(LCID locale, DWORD flags, const char16_t* a, int aLength,
                               const char16_t* b, int bLength) = 0;
    virtual int lstrcmpW(const char16_t* a, const char16_t* b) = 0;

    // kernel32: handles, synchronisation, threads
    virtual HANDLE CreateMutexW(void* attributes, BOOL initialOwner, const char16_t* name) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    virtual HANDLE CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                LPVOID parameter, DWORD flags, DWORD* threadId) = 0;
    virtual DWORD ResumeThread(HANDLE thread) = 0;
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
    virtual BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) = 0;

    // kernel32: child processes and waiting while serving messages
    virtual BOOL CreateProcessW(const char16_t* application, char16_t* commandLine,
                                void* processAttributes, void* threadAttributes,
                                BOOL inheritHandles, DWORD flags, void* environment,
                                const char16_t* directory, STARTUPINFOW* startup,
                                PROCESS_INFORMATION* process) = 0;
    virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
    virtual int lstrlenW(const char16_t* text) = 0;
    virtual DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                            DWORD milliseconds, DWORD wakeMask) = 0;
    virtual BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) = 0;

    // kernel32: memory and message formatting
    virtual HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) = 0;
    virtual HGLOBAL GlobalFree(HGLOBAL memory) = 0;
    virtual HLOCAL LocalFree(HLOCAL memory) = 0;
    // Always used with FORMAT_MESSAGE_ARGUMENT_ARRAY: the arguments are an array of DWORD_PTR.
    virtual DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                 char16_t* buffer, DWORD size, DWORD_PTR* arguments) = 0;

    // advapi32: security and registry
    virtual BOOL AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                                          DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                          DWORD s6, DWORD s7, PSID* sid) = 0;
    virtual PVOID FreeSid(PSID sid) = 0;
    virtual BOOL EqualSid(PSID a, PSID b) = 0;
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) = 0;
    virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                     DWORD length, DWORD* returnLength) = 0;
    virtual LSTATUS RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM access,
                                  HKEY* result) = 0;
    virtual LSTATUS RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type,
                                     BYTE* data, DWORD* size) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;

    // files and shutdown
    virtual DWORD GetFileAttributesW(const char16_t* path) = 0;
    virtual BOOL ExitWindowsEx(UINT flags, DWORD reason) = 0;

    // version
    virtual DWORD GetFileVersionInfoSizeW(const char16_t* path, DWORD* handle) = 0;
    virtual BOOL GetFileVersionInfoW(const char16_t* path, DWORD handle, DWORD size,
                                     LPVOID data) = 0;
    virtual BOOL VerQueryValueW(const void* block, const char16_t* subBlock, LPVOID* buffer,
                                UINT* length) = 0;

    // user32: text, resources, message boxes
    virtual char16_t* CharNextW(const char16_t* p) = 0;
    virtual char16_t* CharPrevW(const char16_t* start, const char16_t* p) = 0;
    virtual int LoadStringW(HINSTANCE instance, UINT id, char16_t* buffer, int size) = 0;
    virtual int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption,
                            UINT type) = 0;

    // user32: windows, dialogs and the message loop
    virtual HWND GetDesktopWindow() = 0;
    virtual HWND CreateDialogParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                    DLGPROC proc, LPARAM param) = 0;
    virtual INT_PTR DialogBoxParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                                    DLGPROC proc, LPARAM param) = 0;
    virtual BOOL EndDialog(HWND dialog, INT_PTR result) = 0;
    virtual BOOL DestroyWindow(HWND window) = 0;
    virtual BOOL IsWindow(HWND window) = 0;
    virtual HWND GetDlgItem(HWND dialog, int id) = 0;
    virtual BOOL SetWindowTextW(HWND window, const char16_t* text) = 0;
    virtual LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual BOOL ShowWindow(HWND window, int command) = 0;
    virtual HWND SetFocus(HWND window) = 0;
    virtual BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last) = 0;
    virtual BOOL IsDialogMessageW(HWND dialog, MSG* msg) = 0;
    virtual BOOL TranslateMessage(const MSG* msg) = 0;
    virtual LRESULT DispatchMessageW(const MSG* msg) = 0;
    virtual BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual LONG_PTR GetWindowLongPtrW(HWND window, int index) = 0;
    virtual LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) = 0;

    // user32: icons, cursors and painting
    virtual HANDLE LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy,
                              UINT flags) = 0;
    virtual HICON LoadIconW(HINSTANCE instance, const char16_t* name) = 0;
    virtual HCURSOR LoadCursorW(HINSTANCE instance, const char16_t* name) = 0;
    virtual BOOL DestroyIcon(HICON icon) = 0;
    virtual HCURSOR SetCursor(HCURSOR cursor) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual BOOL IsIconic(HWND window) = 0;
    virtual HDC BeginPaint(HWND window, PAINTSTRUCT* paint) = 0;
    virtual BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) = 0;
    virtual BOOL GetClientRect(HWND window, RECT* rect) = 0;
    virtual BOOL DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
};

// The seam in force. The Windows entry point installs the real API before anything runs;
// a host test installs its simulated Windows for the duration of the test.
Win32Api& Api();
void SetApi(Win32Api* api);
