#include "tests/sim/sim_windows.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>

#include "trust/signature.h"

namespace {
SimWindows* g_current = nullptr;

// The SIDs of this simulation: a tag, the authority and up to eight sub-authorities.
struct SimSid {
    DWORD tag;
    BYTE authority[6];
    BYTE count;
    DWORD sub[8];
};
const DWORD kSidTag = 0x5349440A;

bool SameSid(const SimSid* a, const SimSid* b) {
    return a && b && a->tag == kSidTag && b->tag == kSidTag && a->count == b->count &&
           memcmp(a->authority, b->authority, 6) == 0 &&
           memcmp(a->sub, b->sub, a->count * sizeof(DWORD)) == 0;
}

// What GetFileVersionInfoW writes: a tag and the fixed record.
struct SimVersionBlock {
    DWORD tag;
    BOOL hasFixed;
    VS_FIXEDFILEINFO fixed;
};
const DWORD kVersionTag = 0x56455253;

// ASCII text in UTF-16: the module names the setup asks for by ANSI name, and digits.
std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }
}  // namespace

std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return s;
}

std::string Hex(uintptr_t v) {
    std::ostringstream out;
    out << "0x" << std::hex << v;
    return out.str();
}

std::string Ptr(const void* p) { return p ? Hex(reinterpret_cast<uintptr_t>(p)) : "null"; }

std::string Utf8(const std::u16string& text) {
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        out += static_cast<char>(extra ? kLead[extra] | (c >> (6 * extra)) : c);
        for (int k = extra - 1; k >= 0; --k)
            out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
    return out;
}

std::string Utf8(const char16_t* text) { return Utf8(std::u16string(text ? text : u"")); }

// ---- construction ----------------------------------------------------------------------

SimWindows::SimWindows() {
    previous_ = g_current;
    g_current = this;
    SetApi(this);
    SetVersion(VER_PLATFORM_WIN32_NT, 6, 1);
    AddSystemModule(u"kernel32.dll", {"IsWow64Process", "IsWow64Process2"});
    AddSystemModule(u"advapi32.dll", {"CheckTokenMembership", "OpenProcessToken",
                                      "LookupPrivilegeValueW", "AdjustTokenPrivileges"});
}

SimWindows::~SimWindows() {
    g_current = previous_;
    SetApi(previous_);
}

SimWindows& SimWindows::Current() { return *g_current; }

void SimWindows::SetVersion(DWORD platform, DWORD major, DWORD minor, WORD suiteMask) {
    memset(&version, 0, sizeof(version));
    version.dwPlatformId = platform;
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    version.wSuiteMask = suiteMask;
}

void SimWindows::AddSystemModule(const std::u16string& name, std::set<std::string> exports) {
    modules[Lower(systemDirectory + u"\\" + name)] = SimModule{std::move(exports), {}};
}

void SimWindows::AddTrustLibraries() {
    AddSystemModule(u"wintrust.dll",
                    {"WinVerifyTrust", "WTHelperProvDataFromStateData",
                     "WTHelperGetProvSignerFromChain", "WTHelperGetProvCertFromChain"});
    AddSystemModule(u"crypt32.dll", {"CertDuplicateCertificateContext", "CertCompareCertificate",
                                     "CertFreeCertificateContext"});
}

void SimWindows::SetMultiString(const std::u16string& key, const std::u16string& name,
                                const std::vector<std::u16string>& list) {
    std::u16string joined;
    for (const auto& s : list) joined += s + u'\0';
    joined += u'\0';
    const BYTE* bytes = reinterpret_cast<const BYTE*>(joined.data());
    registry[Lower(key)][name] = {REG_MULTI_SZ, {bytes, bytes + joined.size() * sizeof(char16_t)}};
}

// ---- records and counters --------------------------------------------------------------

void SimWindows::Record(const std::string& call) {
    calls.push_back(call);
    if (onCall && !inHook_) {
        inHook_ = true;
        onCall(*this, call);
        inHook_ = false;
    }
}

void SimWindows::Record(const char* name, std::initializer_list<Arg> arguments) {
    std::string call = std::string(name) + "(";
    for (const Arg& a : arguments) call += (&a == arguments.begin() ? "" : ", ") + a.text;
    Record(call + ")");
}

Strings SimWindows::CallsNamed(const std::string& name, const std::string& text) const {
    Strings out;
    for (int i = IndexOf(name, 0, text); i >= 0; i = IndexOf(name, i + 1, text))
        out.push_back(calls[i]);
    return out;
}

int SimWindows::IndexOf(const std::string& name, size_t from, const std::string& text) const {
    for (size_t i = from; i < calls.size(); ++i)
        if (calls[i].compare(0, name.size() + 1, name + "(") == 0 &&
            calls[i].find(text) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

HANDLE SimWindows::NewHandle(const std::string& kind) {
    HANDLE h = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[h] = kind;
    return h;
}

int SimWindows::certReferences() const {
    int n = 0;
    for (const auto& c : certs_) n += c.second->references;
    return n;
}

std::string SimWindows::Leaks() const {
    std::ostringstream out;
    for (const auto& h : handles_)
        if (h.second != "mutex") out << "handle " << h.second << "; ";
    if (!keys_.empty()) out << keys_.size() << " registry keys; ";
    for (const auto& m : loaded_)
        if (m.second.references)
            out << "module " << Utf8(m.second.path) << " x" << m.second.references << "; ";
    if (liveSids_) out << liveSids_ << " SIDs; ";
    if (!globalBlocks_.empty()) out << globalBlocks_.size() << " global blocks; ";
    if (!localBlocks_.empty()) out << localBlocks_.size() << " local blocks; ";
    if (certReferences()) out << certReferences() << " certificate references; ";
    if (!trustStates_.empty()) out << trustStates_.size() << " trust states; ";
    if (!engineHandles_.empty()) out << engineHandles_.size() << " engine handles; ";
    for (const auto& w : windows)
        if (w.second.alive && !w.second.parent) out << "window " << w.second.templateId << "; ";
    for (const auto& f : faults) out << "fault: " << f << "; ";
    return out.str();
}

// ---- kernel32 --------------------------------------------------------------------------

DWORD SimWindows::GetModuleFileNameW(HMODULE module, char16_t* path, DWORD size) {
    Record("GetModuleFileNameW", {module, size});
    if (size == 0) return 0;
    std::u16string name = modulePath;
    if (module) {
        auto it = loaded_.find(module);
        if (it == loaded_.end() || it->second.references <= 0) return Fail(ERROR_MOD_NOT_FOUND, 0);
        name = it->second.originalPath;
    }
    DWORD n = static_cast<DWORD>(name.size());
    if (n >= size) {
        // Like current Windows: truncated, terminated, the buffer size returned.
        memcpy(path, name.data(), (size - 1) * sizeof(char16_t));
        path[size - 1] = 0;
        return Fail(ERROR_INSUFFICIENT_BUFFER, size);
    }
    memcpy(path, name.c_str(), (n + 1) * sizeof(char16_t));
    return n;
}

HMODULE SimWindows::GetModuleHandleW(const char16_t* name) {
    Record("GetModuleHandleW", {name});
    return name ? nullptr : reinterpret_cast<HMODULE>(0x400000);
}

HMODULE SimWindows::GetModuleHandleA(const char* name) {
    Record("GetModuleHandleA", {name});
    if (!name || kernel32Missing) return nullptr;
    std::u16string path = Lower(systemDirectory + u"\\" + Widen(name));
    if (!modules.count(path)) return nullptr;
    // Already loaded modules are not counted: the handle is not a reference of the caller.
    return reinterpret_cast<HMODULE>(0x7000000 + (std::hash<std::u16string>()(path) & 0xFFFF) * 16);
}

HMODULE SimWindows::LoadLibraryExW(const char16_t* path, HANDLE reserved, DWORD flags) {
    Record("LoadLibraryExW", {path, reserved, Hex(flags)});
    std::u16string key = Lower(path ? path : u"");
    if (!modules.count(key)) return Fail(ERROR_MOD_NOT_FOUND, nullptr);
    HMODULE handle =
        reinterpret_cast<HMODULE>(0x10000000 + (std::hash<std::u16string>()(key) & 0xFFFF) * 16);
    LoadedModule& entry = loaded_[handle];
    entry = LoadedModule{key, path, entry.references + 1};
    return handle;
}

FARPROC SimExport(const std::string& name);  // sim_engine.cpp

FARPROC SimWindows::GetProcAddress(HMODULE module, const char* name) {
    Record("GetProcAddress", {module, name});
    const SimModule* found = ModuleOf(module);
    if (!found && module == GetModuleHandleA("kernel32.dll")) {
        calls.pop_back();  // the lookup above is not the caller's call
        found = &modules[Lower(systemDirectory + u"\\kernel32.dll")];
    }
    if (!found || !name || !found->exports.count(name)) return Fail(ERROR_PROC_NOT_FOUND, nullptr);
    return SimExport(name);
}

const SimModule* SimWindows::ModuleOf(HMODULE module) const {
    auto it = loaded_.find(module);
    if (it == loaded_.end() || it->second.references <= 0) return nullptr;
    auto m = modules.find(it->second.path);
    return m != modules.end() ? &m->second : nullptr;
}

BOOL SimWindows::FreeLibrary(HMODULE module) {
    Record("FreeLibrary", {module});
    auto it = loaded_.find(module);
    if (it == loaded_.end() || it->second.references == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    it->second.references--;
    return TRUE;
}

UINT SimWindows::GetSystemDirectoryW(char16_t* buffer, UINT size) {
    Record("GetSystemDirectoryW", {size});
    UINT n = static_cast<UINT>(systemDirectory.size());
    if (n + 1 > size) return n + 1;
    memcpy(buffer, systemDirectory.c_str(), (n + 1) * sizeof(char16_t));
    return n;
}

DWORD SimWindows::GetLastError() { return lastError_; }
void SimWindows::SetLastError(DWORD error) { lastError_ = error; }
HANDLE SimWindows::GetCurrentProcess() { return reinterpret_cast<HANDLE>(-1); }
DWORD SimWindows::GetCurrentThreadId() { return runningThread_ ? 2 : mainThreadId_; }
const char16_t* SimWindows::GetCommandLineW() {
    Record("GetCommandLineW()");
    commandLineCopy_ = commandLine;
    return commandLineCopy_.c_str();
}

BOOL SimWindows::GetVersionExW(OSVERSIONINFOW* info) {
    Record("GetVersionExW", {info->dwOSVersionInfoSize});
    if (versionFails) return FALSE;
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOEXW) && size != sizeof(OSVERSIONINFOW))
        return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    memcpy(info, &version, size);
    return TRUE;
}

LANGID SimWindows::GetUserDefaultLangID() {
    Record("GetUserDefaultLangID()");
    return userLangId;
}

int SimWindows::CompareStringW(LCID locale, DWORD flags, const char16_t* a, int aLength,
                               const char16_t* b, int bLength) {
    Record("CompareStringW", {locale, Hex(flags), a, aLength, b, bLength});
    auto text = [flags](const char16_t* s, int length) {
        std::u16string t = length < 0 ? std::u16string(s) : std::u16string(s, length);
        return flags & NORM_IGNORECASE ? Lower(t) : t;
    };
    int c = text(a, aLength).compare(text(b, bLength));
    return c < 0 ? CSTR_LESS_THAN : c == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

int SimWindows::lstrcmpW(const char16_t* a, const char16_t* b) {
    Record("lstrcmpW", {a, b});
    int c = std::u16string(a).compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int SimWindows::lstrlenW(const char16_t* text) {
    return text ? static_cast<int>(std::u16string(text).size()) : 0;
}

HANDLE SimWindows::CreateMutexW(void* attributes, BOOL initialOwner, const char16_t* name) {
    Record("CreateMutexW", {attributes, initialOwner, name});
    if (createMutexFails) return Fail(ERROR_ACCESS_DENIED, nullptr);
    std::u16string n = name ? name : u"";
    lastError_ = existingMutexes.count(n) ? ERROR_ALREADY_EXISTS : 0;
    existingMutexes.insert(n);
    return NewHandle("mutex");
}

BOOL SimWindows::CloseHandle(HANDLE handle) {
    Record("CloseHandle", {handle});
    if (!handles_.erase(handle)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

HGLOBAL SimWindows::GlobalAlloc(UINT flags, SIZE_T bytes) {
    Record("GlobalAlloc", {Hex(flags), bytes});
    void* p = (flags & GMEM_ZEROINIT) ? calloc(1, bytes) : malloc(bytes);
    globalBlocks_.insert(p);
    return p;
}

// A block that is not one of the kind stays, and is returned as on Windows.
static void* FreeBlock(std::set<void*>& blocks, void* memory) {
    if (!blocks.erase(memory)) return memory;
    free(memory);
    return nullptr;
}

HGLOBAL SimWindows::GlobalFree(HGLOBAL memory) {
    Record("GlobalFree", {memory});
    return FreeBlock(globalBlocks_, memory);
}

HLOCAL SimWindows::LocalFree(HLOCAL memory) {
    Record("LocalFree", {memory});
    return FreeBlock(localBlocks_, memory);
}

// The inserts of a message text: %1..%99 with an optional !printf-format!, and the escapes
// %0 (end), %% %. %! %space and %n. Inserted text is copied as it stands.
DWORD SimWindows::FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                 char16_t* buffer, DWORD size, DWORD_PTR* arguments) {
    const char16_t* format = static_cast<const char16_t*>(source);
    Record("FormatMessageW", {Hex(flags), format, messageId, languageId, size});
    if (!(flags & FORMAT_MESSAGE_FROM_STRING) || !(flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) ||
        !(flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !format)
        return Fail(ERROR_INVALID_PARAMETER, 0);
    std::u16string out;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        char16_t c = *++p;
        if (c == 0 || c == u'0') break;
        if (c < u'1' || c > u'9') {  // an escape: %n a line break, any other its character
            out += c == u'n' ? std::u16string(u"\r\n") : std::u16string(1, c);
            continue;
        }
        int number = c - u'0';
        if (p[1] >= u'0' && p[1] <= u'9') number = number * 10 + (*++p - u'0');
        std::string conversion = "s";
        if (p[1] == u'!') {
            const char16_t* end = p + 2;
            while (*end && *end != u'!') ++end;
            conversion = Utf8(std::u16string(p + 2, end));
            p = *end ? end : end - 1;
        }
        DWORD_PTR value = arguments[number - 1];
        if (conversion == "s")
            out += reinterpret_cast<const char16_t*>(value);
        else if (conversion == "d" || conversion == "i")
            out += Widen(std::to_string(static_cast<int32_t>(value)));
        else if (conversion == "u")
            out += Widen(std::to_string(static_cast<uint32_t>(value)));
        else
            return Fail(ERROR_INVALID_PARAMETER, 0);
    }
    char16_t* result = static_cast<char16_t*>(malloc((out.size() + 1) * sizeof(char16_t)));
    memcpy(result, out.c_str(), (out.size() + 1) * sizeof(char16_t));
    localBlocks_.insert(result);
    *reinterpret_cast<char16_t**>(buffer) = result;
    return static_cast<DWORD>(out.size());
}

// ---- advapi32 --------------------------------------------------------------------------

BOOL SimWindows::AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                                          DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5,
                                          DWORD s6, DWORD s7, PSID* sid) {
    std::ostringstream a;
    for (int i = 0; i < 6; ++i) a << int(authority->Value[i]) << (i < 5 ? "." : "");
    Record("AllocateAndInitializeSid", {a.str(), count, s0, s1});
    if (allocateSidFails) return FALSE;
    SimSid* s = new SimSid{kSidTag, {}, count, {s0, s1, s2, s3, s4, s5, s6, s7}};
    memcpy(s->authority, authority->Value, 6);
    *sid = s;
    ++liveSids_;
    return TRUE;
}

PVOID SimWindows::FreeSid(PSID sid) {
    Record("FreeSid", {sid});
    delete static_cast<SimSid*>(sid);
    --liveSids_;
    return nullptr;
}

BOOL SimWindows::EqualSid(PSID a, PSID b) {
    Record("EqualSid()");
    return SameSid(static_cast<SimSid*>(a), static_cast<SimSid*>(b));
}

BOOL SimWindows::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    Record("OpenProcessToken", {process, Hex(access)});
    if (openTokenFails) return Fail(ERROR_ACCESS_DENIED, FALSE);
    *token = NewHandle("token");
    return TRUE;
}

BOOL SimWindows::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                     DWORD length, DWORD* returnLength) {
    Record("GetTokenInformation", {token, infoClass, length});
    if (!handles_.count(token) || infoClass != TokenGroups)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    size_t n = tokenGroups.size();
    size_t header =
        offsetof(TOKEN_GROUPS, Groups) + std::max<size_t>(n, 1) * sizeof(SID_AND_ATTRIBUTES);
    DWORD needed = static_cast<DWORD>(header + n * sizeof(SimSid));
    *returnLength = needed;
    if (length < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    TOKEN_GROUPS* groups = static_cast<TOKEN_GROUPS*>(info);
    SimSid* sids = reinterpret_cast<SimSid*>(static_cast<BYTE*>(info) + header);
    groups->GroupCount = static_cast<DWORD>(n);
    for (size_t i = 0; i < n; ++i) {
        const auto& sub = tokenGroups[i];
        sids[i] = SimSid{kSidTag, {0, 0, 0, 0, 0, 5}, static_cast<BYTE>(sub.size()), {}};
        for (size_t k = 0; k < sub.size() && k < 8; ++k) sids[i].sub[k] = sub[k];
        groups->Groups[i].Sid = &sids[i];
        groups->Groups[i].Attributes = 0x10;  // deny-only: membership must not depend on it
    }
    return TRUE;
}

LSTATUS SimWindows::RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM access,
                                  HKEY* result) {
    Record("RegOpenKeyExW", {key, subKey, options, Hex(access)});
    if (key != HKEY_LOCAL_MACHINE || !registry.count(Lower(subKey))) return ERROR_FILE_NOT_FOUND;
    HKEY h = reinterpret_cast<HKEY>(NewHandle("key"));
    handles_.erase(h);
    keys_[h] = Lower(subKey);
    *result = h;
    return ERROR_SUCCESS;
}

LSTATUS SimWindows::RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type,
                                     BYTE* data, DWORD* size) {
    Record("RegQueryValueExW", {key, name, reserved, data, size ? std::to_string(*size) : "null"});
    auto k = keys_.find(key);
    if (k == keys_.end()) return ERROR_INVALID_HANDLE;
    auto& values = registry[k->second];
    auto v = values.find(name ? name : u"");
    if (v == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->second.type;
    DWORD needed = static_cast<DWORD>(v->second.data.size());
    // Without a buffer only the size is asked for; a buffer too small gets the size needed.
    if (data && !size) return ERROR_INVALID_PARAMETER;
    LSTATUS status = data && *size < needed ? ERROR_MORE_DATA : ERROR_SUCCESS;
    if (data && status == ERROR_SUCCESS && needed) memcpy(data, v->second.data.data(), needed);
    if (size) *size = needed;
    return status;
}

LSTATUS SimWindows::RegCloseKey(HKEY key) {
    Record("RegCloseKey", {key});
    return keys_.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

BOOL SimWindows::CheckTokenMembership(HANDLE token, PSID sid, BOOL* member) {
    const SimSid* s = static_cast<SimSid*>(sid);
    Record("CheckTokenMembership",
           {token, std::to_string(s ? s->sub[0] : 0) + "-" + std::to_string(s ? s->sub[1] : 0)});
    if (checkMembershipFails) return FALSE;
    *member = adminMember;
    return TRUE;
}

// ---- kernel32 exports ------------------------------------------------------------------

BOOL SimWindows::IsWow64Process2(HANDLE process, WORD* processMachine, WORD* native) {
    Record("IsWow64Process2", {process});
    if (wowCallFails) return FALSE;
    *processMachine = wow64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_UNKNOWN;
    *native = nativeMachine;
    return TRUE;
}

BOOL SimWindows::IsWow64Process(HANDLE process, BOOL* isWow64) {
    Record("IsWow64Process", {process});
    if (wowCallFails) return FALSE;
    *isWow64 = wow64;
    return TRUE;
}

// ---- version ---------------------------------------------------------------------------

DWORD SimWindows::GetFileVersionInfoSizeW(const char16_t* path, DWORD* handle) {
    Record("GetFileVersionInfoSizeW", {path});
    if (handle) *handle = 0;
    auto f = files.find(path ? path : u"");
    if (f == files.end()) return Fail(ERROR_FILE_NOT_FOUND, 0);
    if (!f->second.hasVersionResource) return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND, 0);
    return sizeof(SimVersionBlock) + 100;
}

BOOL SimWindows::GetFileVersionInfoW(const char16_t* path, DWORD handle, DWORD size, LPVOID data) {
    Record("GetFileVersionInfoW", {path, handle, size});
    auto f = files.find(path ? path : u"");
    if (f == files.end() || !f->second.hasVersionResource || f->second.versionInfoReadFails ||
        size < sizeof(SimVersionBlock))
        return Fail(f == files.end() ? ERROR_FILE_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND, FALSE);
    SimVersionBlock block{kVersionTag, f->second.hasFixedRecord, {}};
    block.fixed.dwSignature = 0xFEEF04BD;
    block.fixed.dwFileVersionMS = f->second.fileVersionMS;
    memcpy(data, &block, sizeof(block));
    return TRUE;
}

BOOL SimWindows::VerQueryValueW(const void* data, const char16_t* subBlock, LPVOID* buffer,
                                UINT* length) {
    Record("VerQueryValueW", {subBlock});
    const SimVersionBlock* block = static_cast<const SimVersionBlock*>(data);
    if (block->tag != kVersionTag || std::u16string(subBlock) != u"\\" || !block->hasFixed) {
        *length = 0;
        return FALSE;
    }
    *buffer = const_cast<VS_FIXEDFILEINFO*>(&block->fixed);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

// ---- user32 ----------------------------------------------------------------------------

// Like Windows, a character and the combining marks that follow it (U+0300 to U+036F) are
// one step: "e" followed by U+0301 is stepped over as one character.
static bool IsCombiningMark(char16_t c) { return c >= 0x0300 && c <= 0x036F; }

char16_t* SimWindows::CharNextW(const char16_t* p) {
    if (!*p) return const_cast<char16_t*>(p);
    ++p;
    while (IsCombiningMark(*p)) ++p;
    return const_cast<char16_t*>(p);
}

char16_t* SimWindows::CharPrevW(const char16_t* start, const char16_t* p) {
    if (p <= start) return const_cast<char16_t*>(start);
    --p;
    while (p > start && IsCombiningMark(*p)) --p;
    return const_cast<char16_t*>(p);
}

int SimWindows::LoadStringW(HINSTANCE instance, UINT id, char16_t* buffer, int size) {
    Record("LoadStringW", {instance, id, size});
    const std::map<UINT, std::u16string>* table = &strings;
    if (const SimModule* module = ModuleOf(reinterpret_cast<HMODULE>(instance)))
        table = &module->strings;
    auto s = table->find(id);
    if (s == table->end()) {
        if (size > 0) buffer[0] = 0;
        return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
    }
    int n = static_cast<int>(s->second.size());
    if (size == 0) {
        *reinterpret_cast<const char16_t**>(buffer) = s->second.data();
        return n;
    }
    int copied = std::min(n, size - 1);
    memcpy(buffer, s->second.data(), copied * sizeof(char16_t));
    buffer[copied] = 0;
    return copied;
}

int SimWindows::MessageBoxW(HWND owner, const char16_t* text, const char16_t* caption, UINT type) {
    Record("MessageBoxW", {owner, text, caption, Hex(type)});
    CrossThreadCall("MessageBoxW", owner);
    messageBoxes.push_back({owner, text ? text : u"", caption ? caption : u"", type});
    // The box's modal loop ends at a quit message of its thread's queue, which it posts again,
    // before the user could answer.
    if (!runningThread_ && quitMessages > 0) return 0;
    return Next(messageBoxAnswers, (type & 0xF) == MB_YESNO ? IDNO : IDOK);
}

// ---- wintrust and crypt32 --------------------------------------------------------------

PCCERT_CONTEXT SimWindows::Certificate(int id) {
    auto& cert = certs_[id];
    if (!cert) {
        cert.reset(new Cert);
        cert->infoTag = id;
        cert->context.dwCertEncodingType = X509_ASN_ENCODING;
        cert->context.pCertInfo = reinterpret_cast<PCERT_INFO>(&cert->infoTag);
        cert->provCert.cbStruct = sizeof(CRYPT_PROVIDER_CERT);
        cert->provCert.pCert = &cert->context;
    }
    return &cert->context;
}

int SimWindows::CertIdOf(PCCERT_CONTEXT cert) const {
    for (const auto& c : certs_)
        if (&c.second->context == cert) return c.first;
    return 0;
}

LONG SimWindows::WinVerifyTrust(HWND window, GUID* action, LPVOID data) {
    WintrustDataV1* wd = static_cast<WintrustDataV1*>(data);
    bool generic = memcmp(action, &kGenericVerifyV2, sizeof(GUID)) == 0;
    SimTrustCall call{u"", window, wd->dwUIChoice, wd->dwStateAction, wd->cbStruct, 0, generic};
    if (wd->pFile) {
        call.fileCbStruct = wd->pFile->cbStruct;
        call.path = reinterpret_cast<const char16_t*>(wd->pFile->pcwszFilePath);
    }
    trustCalls.push_back(call);
    Record("WinVerifyTrust", {window, Utf8(call.path), "ui=" + std::to_string(call.uiChoice),
                              "state=" + std::to_string(call.stateAction)});

    if (wd->dwStateAction == WTD_STATEACTION_CLOSE) {
        trustStates_.erase(wd->hWVTStateData);
        wd->hWVTStateData = nullptr;
        return 0;
    }
    auto f = trustFiles.find(call.path);
    SimTrustFile file = f != trustFiles.end() ? f->second : SimTrustFile{};
    auto byUi = file.statusByUiChoice.find(wd->dwUIChoice);
    if (wd->dwStateAction == WTD_STATEACTION_VERIFY) {
        std::unique_ptr<TrustState> state(new TrustState{file.signer});
        wd->hWVTStateData = state.get();
        trustStates_[state.get()] = std::move(state);
    }
    return byUi != file.statusByUiChoice.end() ? byUi->second : file.status;
}

CRYPT_PROVIDER_DATA* SimWindows::WTHelperProvDataFromStateData(HANDLE state) {
    Record("WTHelperProvDataFromStateData", {state});
    auto s = trustStates_.find(state);
    if (s == trustStates_.end()) return nullptr;
    return reinterpret_cast<CRYPT_PROVIDER_DATA*>(&s->second->dataTag);
}

CRYPT_PROVIDER_SGNR* SimWindows::WTHelperGetProvSignerFromChain(CRYPT_PROVIDER_DATA* data,
                                                                DWORD signer, BOOL counterSigner,
                                                                DWORD counterIndex) {
    Record("WTHelperGetProvSignerFromChain", {signer, counterSigner, counterIndex});
    for (auto& s : trustStates_)
        if (reinterpret_cast<CRYPT_PROVIDER_DATA*>(&s.second->dataTag) == data)
            return s.second->signer ? reinterpret_cast<CRYPT_PROVIDER_SGNR*>(&s.second->signerTag)
                                    : nullptr;
    return nullptr;
}

CRYPT_PROVIDER_CERT* SimWindows::WTHelperGetProvCertFromChain(CRYPT_PROVIDER_SGNR* signer,
                                                              DWORD index) {
    Record("WTHelperGetProvCertFromChain", {index});
    for (auto& s : trustStates_)
        if (reinterpret_cast<CRYPT_PROVIDER_SGNR*>(&s.second->signerTag) == signer) {
            Certificate(s.second->signer);
            return &certs_[s.second->signer]->provCert;
        }
    return nullptr;
}

PCCERT_CONTEXT SimWindows::CertDuplicateCertificateContext(PCCERT_CONTEXT cert) {
    int id = CertIdOf(cert);
    Record("CertDuplicateCertificateContext", {id});
    if (!id) return nullptr;
    certs_[id]->references++;
    return cert;
}

BOOL SimWindows::CertFreeCertificateContext(PCCERT_CONTEXT cert) {
    int id = CertIdOf(cert);
    Record("CertFreeCertificateContext", {id});
    if (id) certs_[id]->references--;
    return TRUE;
}

BOOL SimWindows::CertCompareCertificate(DWORD encoding, PCERT_INFO a, PCERT_INFO b) {
    int idA = a ? *reinterpret_cast<int*>(a) : 0;
    int idB = b ? *reinterpret_cast<int*>(b) : 0;
    Record("CertCompareCertificate", {Hex(encoding), idA, idB});
    return idA && idA == idB;
}
