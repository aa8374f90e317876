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
// loaded from the system directory instead, with its own imports searched from there. The
// table holds the functions of the USER32 operations and the window-slot functions.
//
// A window's pointer-sized slots (DWLP_USER holds a dialog's `this`): on x64 only the *Ptr
// functions keep all 64 bits; 32-bit user32 has no *Ptr exports (its headers map them to the
// 32-bit ones), so there the 32-bit functions are the whole value.
#ifdef _WIN64
#define KAVRIN_USER32_WINDOW_LONG(X) X(GetWindowLongPtrW) X(SetWindowLongPtrW)
#else
#define KAVRIN_USER32_WINDOW_LONG(X) X(GetWindowLongW) X(SetWindowLongW)
#endif
#define KAVRIN_SEAM_NONE(result, name, parameters, arguments)
#define KAVRIN_USER32_FUNCTIONS(X, OPERATION)                             \
    KAVRIN_SEAM_OPERATIONS(KAVRIN_SEAM_NONE, OPERATION, KAVRIN_SEAM_NONE) \
    KAVRIN_USER32_WINDOW_LONG(X)

struct User32Functions {
#define KAVRIN_USER32_FIELD(name) decltype(&::name) name = nullptr;
#define KAVRIN_USER32_OPERATION_FIELD(result, name, parameters, arguments) KAVRIN_USER32_FIELD(name)
    KAVRIN_USER32_FUNCTIONS(KAVRIN_USER32_FIELD, KAVRIN_USER32_OPERATION_FIELD)
#undef KAVRIN_USER32_OPERATION_FIELD
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
#define KAVRIN_USER32_OPERATION_BIND(result, name, parameters, arguments) KAVRIN_USER32_BIND(name)
    KAVRIN_USER32_FUNCTIONS(KAVRIN_USER32_BIND, KAVRIN_USER32_OPERATION_BIND)
#undef KAVRIN_USER32_OPERATION_BIND
#undef KAVRIN_USER32_BIND
    // Kept loaded for the life of the process.
    return complete;
}

namespace {
inline LPCWSTR W(const char16_t* s) { return reinterpret_cast<LPCWSTR>(s); }
inline LPWSTR W(char16_t* s) { return reinterpret_cast<LPWSTR>(s); }
inline char16_t* U(LPWSTR s) { return reinterpret_cast<char16_t*>(s); }
inline const char16_t* U(LPCWSTR s) { return reinterpret_cast<const char16_t*>(s); }
template <typename Result>
Result U(Result result) {
    return result;
}
}  // namespace

// The operations that forward as they are listed.
#define KAVRIN_REAL_IMPORTED(result, name, parameters, arguments) \
    result RealWin32::name parameters { return U(::name arguments); }
#define KAVRIN_REAL_USER32(result, name, parameters, arguments) \
    result RealWin32::name parameters { return U(g_user32.name arguments); }
KAVRIN_SEAM_OPERATIONS(KAVRIN_REAL_IMPORTED, KAVRIN_REAL_USER32, KAVRIN_SEAM_NONE)
#undef KAVRIN_REAL_USER32
#undef KAVRIN_REAL_IMPORTED

// The operations with bodies of their own.
void RealWin32::SetLastError(DWORD error) { ::SetLastError(error); }
BOOL RealWin32::GetVersionExW(OSVERSIONINFOW* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return ::GetVersionExW(info);
#pragma GCC diagnostic pop
}

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
