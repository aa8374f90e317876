// The Windows side of the seam: forwards every operation to the real API.
#pragma once

#include "seam/win32_api.h"

class RealWin32 final : public Win32Api {
public:
    // Loads user32 from the system directory and binds its functions; false when it cannot.
    bool BindUser32();

    DWORD GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) override;
    HMODULE GetModuleHandleW(const char16_t* name) override;
    HMODULE GetModuleHandleA(const char* name) override;
    HMODULE LoadLibraryExW(const char16_t* path, HANDLE reserved, DWORD flags) override;
    FARPROC GetProcAddress(HMODULE module, const char* name) override;
    BOOL FreeLibrary(HMODULE module) override;
    UINT GetSystemDirectoryW(char16_t* buffer, UINT size) override;
    const char16_t* GetCommandLineW() override;
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
    BOOL GetVersionExW(OSVERSIONINFOW* info) override;
    LANGID GetUserDefaultLangID() override;
    HANDLE GetCurrentProcess() override;
    DWORD GetCurrentThreadId() override;
    int CompareStringW(LCID locale, DWORD flags, const char16_t* a, int aLength, const char16_t* b,
                       int bLength) override;
    int lstrcmpW(const char16_t* a, const char16_t* b) override;
    HANDLE CreateMutexW(void* attributes, BOOL initialOwner, const char16_t* name) override;
    BOOL CloseHandle(HANDLE handle) override;
    HANDLE CreateThread(void* attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                        LPVOID parameter, DWORD flags, DWORD* threadId) override;
    DWORD ResumeThread(HANDLE thread) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) override;
    BOOL CreateProcessW(const char16_t* application, char16_t* commandLine, void* processAttributes,
                        void* threadAttributes, BOOL inheritHandles, DWORD flags, void* environment,
                        const char16_t* directory, STARTUPINFOW* startup,
                        PROCESS_INFORMATION* process) override;
    BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
    int lstrlenW(const char16_t* text) override;
    DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD milliseconds, DWORD wakeMask) override;
    BOOL PeekMessageW(MSG* msg, HWND window, UINT first, UINT last, UINT remove) override;
    HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override;
    HGLOBAL GlobalFree(HGLOBAL memory) override;
    HLOCAL LocalFree(HLOCAL memory) override;
    DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                         char16_t* buffer, DWORD size, DWORD_PTR* arguments) override;
    BOOL AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                                  DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6,
                                  DWORD s7, PSID* sid) override;
    PVOID FreeSid(PSID sid) override;
    BOOL EqualSid(PSID a, PSID b) override;
    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override;
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                             DWORD length, DWORD* returnLength) override;
    LSTATUS RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM access,
                          HKEY* result) override;
    LSTATUS RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type,
                             BYTE* data, DWORD* size) override;
    LSTATUS RegCloseKey(HKEY key) override;
    DWORD GetFileAttributesW(const char16_t* path) override;
    BOOL ExitWindowsEx(UINT flags, DWORD reason) override;
    LONG_PTR GetWindowLongPtrW(HWND window, int index) override;
    LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) override;
    HANDLE LoadImageW(HINSTANCE instance, const char16_t* name, UINT type, int cx, int cy,
                      UINT flags) override;
    HICON LoadIconW(HINSTANCE instance, const char16_t* name) override;
    HCURSOR LoadCursorW(HINSTANCE instance, const char16_t* name) override;
    BOOL DestroyIcon(HICON icon) override;
    HCURSOR SetCursor(HCURSOR cursor) override;
    int GetSystemMetrics(int index) override;
    BOOL IsIconic(HWND window) override;
    HDC BeginPaint(HWND window, PAINTSTRUCT* paint) override;
    BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) override;
    BOOL GetClientRect(HWND window, RECT* rect) override;
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override;
    DWORD GetFileVersionInfoSizeW(const char16_t* path, DWORD* handle) override;
    BOOL GetFileVersionInfoW(const char16_t* path, DWORD handle, DWORD size, LPVOID data) override;
    BOOL VerQueryValueW(const void* block, const char16_t* subBlock, LPVOID* buffer,
                        UINT* length) override;
    char16_t* CharNextW(const char16_t* p) override;
    char16_t* CharPrevW(const char16_t* start, const char16_t* p) override;
    int LoadStringW(HINSTANCE instance, UINT id, char16_t* buffer, int size) override;
    int MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) override;
    HWND GetDesktopWindow() override;
    HWND CreateDialogParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                            DLGPROC proc, LPARAM param) override;
    INT_PTR DialogBoxParamW(HINSTANCE instance, const char16_t* templateName, HWND parent,
                            DLGPROC proc, LPARAM param) override;
    BOOL EndDialog(HWND dialog, INT_PTR result) override;
    BOOL DestroyWindow(HWND window) override;
    BOOL IsWindow(HWND window) override;
    HWND GetDlgItem(HWND dialog, int id) override;
    BOOL SetWindowTextW(HWND window, const char16_t* text) override;
    LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL ShowWindow(HWND window, int command) override;
    HWND SetFocus(HWND window) override;
    BOOL GetMessageW(MSG* msg, HWND window, UINT first, UINT last) override;
    BOOL IsDialogMessageW(HWND dialog, MSG* msg) override;
    BOOL TranslateMessage(const MSG* msg) override;
    LRESULT DispatchMessageW(const MSG* msg) override;
    BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // version.dll is not one of the libraries the loader always takes from the system
    // directory, so it is not imported: it is loaded from there on first use.
    bool BindVersionLibrary();
    HMODULE version_ = nullptr;
    DWORD(WINAPI* getFileVersionInfoSize_)(LPCWSTR, LPDWORD) = nullptr;
    BOOL(WINAPI* getFileVersionInfo_)(LPCWSTR, DWORD, DWORD, LPVOID) = nullptr;
    BOOL(WINAPI* verQueryValue_)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
};
