// The Win32 types, structures and constants that the portable core uses.
//
// On Windows they come from the platform headers. On the host they are declared here with
// the same names and layouts (as far as the core reads them), so the same core source
// compiles for both. Text is char16_t in the core; the Windows side converts at the seam.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32

// windows.h first: the other platform headers rely on its types.
#include <windows.h>

#include <commctrl.h>
#include <softpub.h>
#include <urlmon.h>
#include <wincrypt.h>
#include <wintrust.h>

#else  // host

#define WINAPI
#define CALLBACK
#define STDMETHODCALLTYPE

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef uint16_t LANGID;
typedef uint32_t LCID;
typedef LONG HRESULT;
typedef LONG LSTATUS;
typedef char16_t WCHAR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD REGSAM;
typedef DWORD ACCESS_MASK;
typedef void* PVOID;
typedef void* LPVOID;

typedef void* HANDLE;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HWND__;
typedef HWND__* HWND;
struct HKEY__;
typedef HKEY__* HKEY;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HDC__;
typedef HDC__* HDC;
typedef HANDLE HGLOBAL;
typedef HANDLE HLOCAL;
typedef void* PSID;
typedef INT_PTR (*FARPROC)();
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define MAKEINTRESOURCEW(i) ((const char16_t*)(ULONG_PTR)(WORD)(i))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef const GUID& REFIID;

struct POINT {
    LONG x;
    LONG y;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;

// The COM interfaces the download callback implements, with the platform's slot order.
struct IBinding;
struct BINDINFO;
struct FORMATETC;
struct STGMEDIUM;
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
struct IBindStatusCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax,
                                                 ULONG statusCode, LPCWSTR statusText) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                                      STGMEDIUM* medium) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID riid, IUnknown* object) = 0;

protected:
    ~IBindStatusCallback() = default;
};

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};
struct OSVERSIONINFOEXW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
    WORD wServicePackMajor;
    WORD wServicePackMinor;
    WORD wSuiteMask;
    BYTE wProductType;
    BYTE wReserved;
};

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};
struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
enum TOKEN_INFORMATION_CLASS { TokenUser = 1, TokenGroups = 2 };

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// Certificates and the trust provider's chain records: only the fields the core reads.
struct CERT_INFO;
typedef CERT_INFO* PCERT_INFO;
struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    PCERT_INFO pCertInfo;
    HANDLE hCertStore;
};
typedef const CERT_CONTEXT* PCCERT_CONTEXT;
struct CRYPT_PROVIDER_DATA;
struct CRYPT_PROVIDER_SGNR;
struct CRYPT_PROVIDER_CERT {
    DWORD cbStruct;
    PCCERT_CONTEXT pCert;
};
struct WINTRUST_FILE_INFO {
    DWORD cbStruct;
    const WCHAR* pcwszFilePath;
    HANDLE hFile;
    GUID* pgKnownSubject;
};

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_INSTALL_USEREXIT 1602L
#define ERROR_INSTALL_FAILURE 1603L
#define ERROR_INSTALL_ALREADY_RUNNING 1618L
#define ERROR_NOT_ALL_ASSIGNED 1300L
#define ERROR_NO_TOKEN 1008L

#define S_OK ((HRESULT)0)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_ABORT ((HRESULT)0x80004004L)
#define TRUST_E_PROVIDER_UNKNOWN ((HRESULT)0x800B0001L)
#define TRUST_E_SUBJECT_NOT_TRUSTED ((HRESULT)0x800B0004L)
#define TRUST_E_NOSIGNATURE ((HRESULT)0x800B0100L)

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2
#define VER_SUITE_TERMINAL 0x0010
#define VER_SUITE_SINGLEUSERTS 0x0100

#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define KEY_READ 0x20019
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_READ 0x00020008
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220

#define IMAGE_FILE_MACHINE_UNKNOWN 0
#define IMAGE_FILE_MACHINE_I386 0x014c
#define IMAGE_FILE_MACHINE_AMD64 0x8664
#define IMAGE_FILE_MACHINE_ARM64 0xAA64

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define LMEM_FIXED 0x0000

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define ICC_PROGRESS_CLASS 0x00000020

#define MB_OK 0x00000000
#define MB_YESNO 0x00000004
#define MB_ICONERROR 0x00000010
#define MB_ICONQUESTION 0x00000020
#define MB_ICONWARNING 0x00000030
#define MB_ICONINFORMATION 0x00000040
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define CREATE_SUSPENDED 0x00000004
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED 0xFFFFFFFFu

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_PAINT 0x000F
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_SETCURSOR 0x0020
#define WM_QUERYDRAGICON 0x0037
#define WM_ICONERASEBKGND 0x0027
#define WM_SETICON 0x0080
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_NCDESTROY 0x0082
#define ICON_SMALL 0
#define ICON_BIG 1
#define SW_HIDE 0
#define SW_SHOW 5
#define EWX_REBOOT 0x00000002
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF

#define LOCALE_USER_DEFAULT 0x0400
#define NORM_IGNORECASE 0x00000001
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

#define CREATE_DEFAULT_ERROR_MODE 0x04000000
#define STARTF_USESHOWWINDOW 0x00000001
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SUCCESS_REBOOT_REQUIRED 3010L
#define ERROR_SUCCESS_REBOOT_INITIATED 1641L
#define ERROR_INSTALL_PLATFORM_UNSUPPORTED 1633L

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080

#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC (DWLP_MSGRESULT + (int)sizeof(LRESULT))
#define DWLP_USER (DWLP_DLGPROC + (int)sizeof(DLGPROC))
#define WM_SETFONT 0x0030
#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXSMICON 49
#define SM_CYSMICON 50
#define BN_CLICKED 0
#define BM_CLICK 0x00F5
#define CBN_SELCHANGE 1
#define CB_ERR (-1)
#define CB_ERRSPACE (-2)
#define CB_ADDSTRING 0x0143
#define CB_GETCURSEL 0x0147
#define CB_RESETCONTENT 0x014B
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151
#define CB_GETCOUNT 0x0146
#define CB_GETLBTEXT 0x0148
#define PBM_SETPOS 0x0402
#define PBM_SETRANGE32 0x0406
#define PBM_GETPOS 0x0408
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)(((WORD)(l)) | (((DWORD)(WORD)(h)) << 16)))
#define GWLP_WNDPROC (-4)

#define WTD_UI_ALL 1
#define WTD_UI_NONE 2
#define WTD_UI_NOBAD 3
#define WTD_UI_NOGOOD 4
#define WTD_REVOKE_NONE 0
#define WTD_CHOICE_FILE 1
#define WTD_STATEACTION_IGNORE 0
#define WTD_STATEACTION_VERIFY 1
#define WTD_STATEACTION_CLOSE 2
#define WTD_UICONTEXT_EXECUTE 0
#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

#endif  // _WIN32

// A resource named by number, as the seam's text parameters take it.
#define RESOURCE_ID(i) \
    (reinterpret_cast<const char16_t*>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))

// The standard wait cursor (IDC_WAIT), as the seam's resource-name parameters take it: the
// platform's own IDC_WAIT is a wchar_t pointer.
#define KAVRIN_IDC_WAIT RESOURCE_ID(32514)

// Text in the core is UTF-16 as char16_t; on Windows wchar_t has the same size and encoding.
#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
#endif
