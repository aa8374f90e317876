// A simulated Windows behind the seam, for the host tests.
//
// A test builds the world it needs (version, registry, files, modules and their exports,
// token groups, mutexes, strings, trust verdicts, message-box answers), runs the code, and
// then asserts on the recorded calls and on the counters of what is still open.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "seam/win32_api.h"
#include "state/installer_binding.h"

std::string Utf8(const std::u16string& text);
std::string Utf8(const char16_t* text);
std::u16string Lower(std::u16string text);  // ASCII letters only, like the simulated registry
std::string Hex(uintptr_t value);           // "0x..." as the records show numbers in hex
std::string Ptr(const void* pointer);       // a pointer in hex, or "null"
// A list of strings: recorded calls, message-box texts.
using Strings = std::vector<std::string>;

struct SimMessageBox {
    HWND owner;
    std::u16string text, caption;
    UINT style;
};

struct SimRegistryValue {
    DWORD type;
    std::vector<BYTE> data;
};

struct SimFile {
    bool hasVersionResource = true, hasFixedRecord = true;
    DWORD fileVersionMS = 0;
    bool versionInfoReadFails = false;
};

struct SimModule {
    std::set<std::string> exports;           // names of the functions it offers
    std::map<UINT, std::u16string> strings;  // its string table (message libraries)
};

// A window of the simulated desktop: dialogs from the two templates and their controls.
struct SimWindow {
    int id = 0;
    UINT templateId = 0;
    std::u16string className, text;
    HWND parent = nullptr;
    bool visible = true, alive = true;
    HANDLE thread = nullptr;  // the simulated thread that created it; null: the main thread
    bool modal = false, ended = false;
    INT_PTR endResult = 0;
    DLGPROC proc = nullptr;
    LONG_PTR user = 0, msgResult = 0;
    std::vector<HWND> children;
    HICON smallIcon = nullptr, bigIcon = nullptr;
    int rangeLow = 0, rangeHigh = 100, position = 0;  // progress bar
    struct Item {
        std::u16string text;
        LPARAM data;
    };
    std::vector<Item> items;  // drop-down list, kept sorted by text
    int currentSelection = -1;
};

// A package database of the simulated engine.
struct SimPackage {
    std::map<std::u16string, std::u16string> properties;
};

// What the trust provider answers for one file.
struct SimTrustFile {
    LONG status = TRUST_E_NOSIGNATURE;
    std::map<DWORD, LONG> statusByUiChoice;  // overrides `status` for one UI choice
    int signer = 0;                          // certificate id of the first signer; 0: none
};

struct SimTrustCall {
    std::u16string path;
    HWND window;
    DWORD uiChoice, stateAction, cbStruct, fileCbStruct;
    bool actionIsGenericVerifyV2;
};

// The functions besides the engine's that the simulated modules export, as members of
// SimWindows (OpenProcessToken, an operation of the seam too, aside).
#define KAVRIN_SIM_EXPORTS(X)                                                                  \
    X(BOOL, InitCommonControlsEx, (const void* init))                                          \
    X(HRESULT, URLDownloadToCacheFileW,                                                        \
      (void* caller, const char16_t* url, char16_t* path, DWORD size, DWORD reserved,          \
       IBindStatusCallback* callback))                                                         \
    X(BOOL, LookupPrivilegeValueW, (const char16_t* system, const char16_t* name, LUID* luid)) \
    X(BOOL, AdjustTokenPrivileges,                                                             \
      (HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES * state, DWORD length,                  \
       TOKEN_PRIVILEGES * previous, DWORD * returned))                                         \
    X(BOOL, CheckTokenMembership, (HANDLE token, PSID sid, BOOL * member))                     \
    X(BOOL, IsWow64Process2, (HANDLE process, WORD * processMachine, WORD * nativeMachine))    \
    X(BOOL, IsWow64Process, (HANDLE process, BOOL * wow64))                                    \
    X(LONG, WinVerifyTrust, (HWND window, GUID * action, LPVOID data))                         \
    X(CRYPT_PROVIDER_DATA*, WTHelperProvDataFromStateData, (HANDLE state))                     \
    X(CRYPT_PROVIDER_SGNR*, WTHelperGetProvSignerFromChain,                                    \
      (CRYPT_PROVIDER_DATA * data, DWORD signer, BOOL counterSigner, DWORD counterIndex))      \
    X(CRYPT_PROVIDER_CERT*, WTHelperGetProvCertFromChain,                                      \
      (CRYPT_PROVIDER_SGNR * signer, DWORD index))                                             \
    X(PCCERT_CONTEXT, CertDuplicateCertificateContext, (PCCERT_CONTEXT cert))                  \
    X(BOOL, CertFreeCertificateContext, (PCCERT_CONTEXT cert))                                 \
    X(BOOL, CertCompareCertificate, (DWORD encoding, PCERT_INFO a, PCERT_INFO b))

class SimWindows : public Win32Api {
public:
    SimWindows();
    ~SimWindows() override;
    static SimWindows& Current();

    // ---- the scripted world -------------------------------------------------------------
    OSVERSIONINFOEXW version{};
    bool versionFails = false;
    LANGID userLangId = 0x0409;
    std::u16string modulePath = u"C:\\Downloads\\setup.exe";
    std::u16string commandLine = u"\"C:\\Downloads\\setup.exe\"";
    std::u16string systemDirectory = u"C:\\Windows\\system32";
    bool kernel32Missing = false;

    std::map<std::u16string, std::map<std::u16string, SimRegistryValue>> registry;  // HKLM
    std::map<std::u16string, SimFile> files;
    // Modules by full path (lower case). AddSystemModule puts one in the system directory.
    std::map<std::u16string, SimModule> modules;

    // Token of the process: its groups as (sub-authority list) SIDs.
    std::vector<std::vector<DWORD>> tokenGroups;
    bool openTokenFails = false, allocateSidFails = false;
    BOOL adminMember = FALSE;  // what CheckTokenMembership reports
    bool checkMembershipFails = false;

    // IsWow64Process2 / IsWow64Process answers.
    WORD nativeMachine = IMAGE_FILE_MACHINE_I386;
    BOOL wow64 = FALSE;
    bool wowCallFails = false;

    std::set<std::u16string> existingMutexes;
    bool createMutexFails = false;

    std::map<UINT, std::u16string> strings;  // the string table in the lookup language
    std::deque<int> messageBoxAnswers;       // default: IDOK, or IDNO for Yes/No boxes

    std::map<std::u16string, SimTrustFile> trustFiles;

    std::set<std::u16string> directories;
    bool createDialogFails = false;
    DWORD createDialogError = 0;  // what GetLastError reports after a failed dialog creation
    bool createThreadFails = false;
    bool getMessageFails = false;  // the next GetMessageW of the main thread returns -1
    bool exitCodeThreadUnreadable = false;
    DWORD exitCodeThreadError = ERROR_INVALID_HANDLE;
    bool iconic = false;
    std::set<std::u16string> comboRejects;  // names the drop-down list cannot take
    bool privilegeNotAssigned = false, exitWindowsFails = false;

    // The engine: package databases by path, product states by code, scripted results of
    // the install and patch calls (0 when none is left).
    std::map<std::u16string, SimPackage> packages;
    std::map<std::u16string, int> productStates;
    std::deque<UINT> installResults;

    // Child processes: what each started command line exits with (0 when not scripted).
    std::function<DWORD(SimWindows&, const std::u16string&)> onProcess;
    std::vector<std::u16string> processes;  // command lines, in start order
    bool createProcessFails = false;
    DWORD createProcessError = ERROR_FILE_NOT_FOUND;
    bool exitCodeUnreadable = false, waitFails = false;
    int pendingMessages = 0;  // messages waiting in the worker's queue while it waits

    // Downloads by URL: progress steps (progress, maximum), the result, the cache file.
    struct Download {
        HRESULT result = S_OK;
        std::vector<std::pair<ULONG, ULONG>> progress;
        std::u16string cachePath;
    };
    std::map<std::u16string, Download> downloads;

    // Runs while a modal dialog is up (the test plays the user); without it OK is pressed.
    std::function<void(SimWindows&, HWND)> onModalDialog;
    // Runs after every recorded call, to act at a chosen moment (press Cancel, say).
    std::function<void(SimWindows&, const std::string&)> onCall;

    // ---- helpers to build the world -----------------------------------------------------
    void SetVersion(DWORD platform, DWORD major, DWORD minor = 0, WORD suiteMask = 0);
    void AddSystemModule(const std::u16string& name, std::set<std::string> exports);
    void AddTrustLibraries();   // wintrust.dll and crypt32.dll with all their functions
    void LoadEnglishStrings();  // the English string table of the setup
    void AddEngine(const std::set<std::string>& missing = {});  // msi.dll in the system directory
    void AddPackage(const std::u16string& path, const std::u16string& productVersion,
                    const std::u16string& productCode = u"{11111111-2222-3333-4444-555555555555}");
    void SetMultiString(const std::u16string& key, const std::u16string& name,
                        const std::vector<std::u16string>& strings);

    // ---- the simulated desktop ----------------------------------------------------------
    std::map<HWND, SimWindow> windows;
    HWND focus = nullptr;
    HCURSOR cursor = nullptr;
    int quitMessages = 0;                     // WM_QUIT messages waiting in the main thread's queue
    HWND DialogOf(UINT templateId) const;     // the latest dialog of a template, or null
    SimWindow& Control(HWND dialog, int id);  // a control of a dialog
    void Click(HWND dialog, int id);          // the user presses a button
    void SelectItem(HWND dialog, int id, int index);  // the user picks a list item

    // ---- what happened ------------------------------------------------------------------
    Strings calls;  // "Name(arg, arg, ...)" in call order
    std::vector<SimMessageBox> messageBoxes;
    std::vector<SimTrustCall> trustCalls;
    // The calls named `name`, or only those whose record contains `text`.
    Strings CallsNamed(const std::string& name, const std::string& text = "") const;
    size_t CountCalls(const std::string& name, const std::string& text = "") const {
        return CallsNamed(name, text).size();
    }
    // Index of the first call named `name` at or after `from` whose record contains `text`; -1
    // when there is none.
    int IndexOf(const std::string& name, size_t from = 0, const std::string& text = "") const;

    // What would hang or deadlock on Windows: a GetMessageW that no posted message would ever
    // end, a wait for a thread that never runs, a worker's call on a window of the main thread
    // while that thread waits without serving messages. The simulation carries on; the test
    // fails through Leaks().
    Strings faults;

    // Everything still open: handles, keys, modules, SIDs, memory blocks, certificate
    // references, trust states and engine handles, as a few counts and as the list Leaks()
    // makes. A finished scenario leaves all of them at zero (the single-instance mutex aside,
    // which the setup holds until it ends), and no fault.
    int openHandles() const { return static_cast<int>(handles_.size()); }
    int openKeys() const { return static_cast<int>(keys_.size()); }
    int localBlocks() const { return static_cast<int>(localBlocks_.size()); }
    int certReferences() const;
    std::string Leaks() const;  // empty when nothing is left open (besides mutexes)

    // ---- Win32Api ------------------------------------------------------------------------
    KAVRIN_SEAM_OVERRIDES

    // ---- functions reached through GetProcAddress ---------------------------------------
#define KAVRIN_SIM_MEMBER(result, name, parameters, ...) result name parameters;
    KAVRIN_SIM_EXPORTS(KAVRIN_SIM_MEMBER)
    KAVRIN_ENGINE_FUNCTIONS(KAVRIN_SIM_MEMBER)
#undef KAVRIN_SIM_MEMBER

    PCCERT_CONTEXT Certificate(int id);  // certificate object for an id (created on first use)

private:
    struct Cert {
        CERT_CONTEXT context{};
        int infoTag = 0;  // pCertInfo points here
        CRYPT_PROVIDER_CERT provCert{};
        int references = 0;
    };
    struct TrustState {
        int signer, dataTag = 0, signerTag = 0;
    };
    struct LoadedModule {
        std::u16string path, originalPath;
        int references;
    };

    struct Thread {
        LPTHREAD_START_ROUTINE start;
        LPVOID parameter;
        bool resumed = false, finished = false;
        DWORD exitCode = 0;
    };
    // What the main thread is doing while a simulated thread runs.
    enum class MainThread { kRunning, kServingMessages, kBlocked };
    struct EngineHandle {
        std::string kind;
        std::u16string path;
        std::u16string value;  // the property a view asks for, the value a record holds
    };

    // One argument of a recorded call as the record shows it: numbers in decimal, pointers in
    // hex, text as it stands; null pointers and null text as "null".
    struct Arg {
        std::string text;
        Arg(const std::string& t) : text(t) {}
        Arg(const char* t) : text(t ? t : "null") {}
        Arg(const char16_t* t) : text(t ? Utf8(t) : "null") {}
        Arg(const void* p) : text(Ptr(p)) {}
        template <typename T,
                  typename = std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>>>
        Arg(T n) : text(std::to_string(n)) {}
    };
    void Record(const std::string& call);
    template <typename T>
    T Fail(DWORD error, T result) {  // a failure that GetLastError then reports
        lastError_ = error;
        return result;
    }
    template <typename T>
    static T Next(std::deque<T>& scripted, T otherwise) {  // the next scripted answer
        if (scripted.empty()) return otherwise;
        T next = scripted.front();
        scripted.pop_front();
        return next;
    }
    void Record(const char* name, std::initializer_list<Arg> arguments);  // "name(a, b, ...)"
    HANDLE NewHandle(const std::string& kind);
    HWND NewWindow(SimWindow window);
    HWND CreateFromTemplate(UINT templateId, HWND parent, DLGPROC proc, LPARAM param, bool modal);
    SimWindow* Find(HWND window, bool alive);
    HWND ChildOf(HWND dialog, int id);  // of a dialog that must exist; null when it has none
    void Destroy(HWND window);
    LRESULT ControlMessage(SimWindow& window, UINT message, WPARAM wParam, LPARAM lParam);
    // Runs a resumed thread to its end while the main thread waits in the given way.
    void RunThread(HANDLE handle, MainThread waiting);
    // A call of the running worker on `window`: a deadlock when the window belongs to the main
    // thread and that thread waits without serving messages.
    void CrossThreadCall(const std::string& name, HWND window);
    const SimModule* ModuleOf(HMODULE module) const;
    DWORD NewEngineHandle(EngineHandle handle);
    int CertIdOf(PCCERT_CONTEXT cert) const;

    SimWindows* previous_ = nullptr;
    DWORD lastError_ = 0, mainThreadId_ = 1, nextEngineHandle_ = 100;
    std::u16string commandLineCopy_;
    uintptr_t nextHandle_ = 0x1000, nextWindow_ = 0x20000;
    std::map<HANDLE, std::string> handles_;
    std::map<HKEY, std::u16string> keys_;
    std::map<HMODULE, LoadedModule> loaded_;
    int liveSids_ = 0;
    std::set<void*> globalBlocks_, localBlocks_;
    std::map<int, std::unique_ptr<Cert>> certs_;
    std::map<HANDLE, std::unique_ptr<TrustState>> trustStates_;
    std::map<HANDLE, Thread> threads_;
    HANDLE runningThread_ = nullptr;
    MainThread mainThread_ = MainThread::kRunning;
    std::map<HANDLE, DWORD> processExitCodes_;
    int pendingSeen_ = 0;  // waiting messages the last PeekMessageW saw
    bool inHook_ = false;
    std::map<DWORD, EngineHandle> engineHandles_;
    int uiLevel_ = 1;
};
