// The simulated Windows Installer engine (msi.dll) and the other functions the setup looks
// up by name: common controls, the shutdown privilege.
#include <string.h>

#include <map>
#include <sstream>

#include "state/installer_binding.h"
#include "tests/sim/sim_windows.h"

namespace {

std::string Q(const char16_t* s) { return s ? "\"" + Utf8(s) + "\"" : "null"; }

SimWindows& S() { return SimWindows::Current(); }

BOOL WINAPI XInitCommonControlsEx(const void* i) { return S().InitCommonControlsEx(i); }
HRESULT WINAPI XURLDownloadToCacheFileW(void* c, const char16_t* u, char16_t* p, DWORD s, DWORD r,
                                        IBindStatusCallback* b) {
    return S().URLDownloadToCacheFileW(c, u, p, s, r, b);
}
BOOL WINAPI XOpenProcessToken(HANDLE p, DWORD a, HANDLE* t) {
    return S().OpenProcessToken(p, a, t);
}
BOOL WINAPI XLookupPrivilegeValueW(const char16_t* s, const char16_t* n, LUID* l) {
    return S().LookupPrivilegeValueW(s, n, l);
}
BOOL WINAPI XAdjustTokenPrivileges(HANDLE t, BOOL d, TOKEN_PRIVILEGES* s, DWORD l,
                                   TOKEN_PRIVILEGES* p, DWORD* r) {
    return S().AdjustTokenPrivileges(t, d, s, l, p, r);
}
// The engine's exports forward to the SimWindows member of the same name, one for each
// function of the engine list.
template <auto Member, typename Result, typename... Parameters>
Result WINAPI EngineExport(Parameters... parameters) {
    return (S().*Member)(parameters...);
}
template <auto Member, typename Result, typename... Parameters>
void* EngineExportFor(Result(WINAPI*)(Parameters...)) {
    return reinterpret_cast<void*>(&EngineExport<Member, Result, Parameters...>);
}

const char* const kEngineFunctions[] = {
#define KAVRIN_ENGINE_NAME(result, name, parameters, arguments) #name,
    KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_NAME)
#undef KAVRIN_ENGINE_NAME
};

}  // namespace

FARPROC SimEngineExport(const std::string& name) {
    static const std::map<std::string, void*> table = {
        {"InitCommonControlsEx", reinterpret_cast<void*>(&XInitCommonControlsEx)},
        {"URLDownloadToCacheFileW", reinterpret_cast<void*>(&XURLDownloadToCacheFileW)},
        {"OpenProcessToken", reinterpret_cast<void*>(&XOpenProcessToken)},
        {"LookupPrivilegeValueW", reinterpret_cast<void*>(&XLookupPrivilegeValueW)},
        {"AdjustTokenPrivileges", reinterpret_cast<void*>(&XAdjustTokenPrivileges)},
#define KAVRIN_ENGINE_EXPORT(result, name, parameters, arguments) \
    {#name, EngineExportFor<&SimWindows::name>(decltype(InstallerBinding::name){})},
        KAVRIN_ENGINE_FUNCTIONS(KAVRIN_ENGINE_EXPORT)
#undef KAVRIN_ENGINE_EXPORT
    };
    auto it = table.find(name);
    return it != table.end() ? reinterpret_cast<FARPROC>(it->second) : nullptr;
}

void SimWindows::AddEngine(const std::set<std::string>& missing) {
    std::set<std::string> exports;
    for (const char* f : kEngineFunctions)
        if (!missing.count(f)) exports.insert(f);
    AddSystemModule(u"msi.dll", exports);
    files[systemDirectory + u"\\msi.dll"] = SimFile{true, true, 0x00050000, false};
}

void SimWindows::AddPackage(const std::u16string& path, const std::u16string& productVersion,
                            const std::u16string& productCode) {
    SimPackage package;
    if (!productVersion.empty()) package.properties[u"ProductVersion"] = productVersion;
    package.properties[u"ProductCode"] = productCode;
    packages[path] = package;
}

DWORD SimWindows::NewEngineHandle(EngineHandle handle) {
    DWORD h = nextEngineHandle_++;
    engineHandles_[h] = std::move(handle);
    return h;
}

BOOL SimWindows::InitCommonControlsEx(const void* init) {
    const DWORD* data = static_cast<const DWORD*>(init);
    Record("InitCommonControlsEx(" + std::to_string(data[0]) + ", " + std::to_string(data[1]) +
           ")");
    return TRUE;
}

BOOL SimWindows::LookupPrivilegeValueW(const char16_t* system, const char16_t* name, LUID* luid) {
    Record("LookupPrivilegeValueW(" + Q(system) + ", " + Q(name) + ")");
    luid->LowPart = 19;
    luid->HighPart = 0;
    return TRUE;
}

BOOL SimWindows::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* state,
                                       DWORD length, TOKEN_PRIVILEGES* previous, DWORD* returned) {
    std::ostringstream out;
    out << "AdjustTokenPrivileges(" << (handles_.count(token) ? "token" : "bad") << ", "
        << disableAll << ", " << state->PrivilegeCount << ":" << state->Privileges[0].Luid.LowPart
        << ":" << state->Privileges[0].Attributes << ", " << length << ", "
        << (previous ? "prev" : "null") << ", " << (returned ? "ret" : "null") << ")";
    Record(out.str());
    lastError_ = privilegeNotAssigned ? ERROR_NOT_ALL_ASSIGNED : 0;
    return TRUE;
}

int SimWindows::MsiSetInternalUI(int level, HWND* owner) {
    Record("MsiSetInternalUI(" + std::to_string(level) + ", " + (owner ? "owner" : "null") + ")");
    int previous = uiLevel_;
    uiLevel_ = level;
    return previous;
}

UINT SimWindows::MsiInstallProductW(const char16_t* package, const char16_t* cmd) {
    Record("MsiInstallProductW(" + Q(package) + ", " + Q(cmd) + ")");
    UINT result = 0;
    if (!installResults.empty()) {
        result = installResults.front();
        installResults.pop_front();
    }
    return result;
}

UINT SimWindows::MsiApplyPatchW(const char16_t* patch, const char16_t* product, int type,
                                const char16_t* cmd) {
    Record("MsiApplyPatchW(" + Q(patch) + ", " + Q(product) + ", " + std::to_string(type) + ", " +
           Q(cmd) + ")");
    UINT result = 0;
    if (!installResults.empty()) {
        result = installResults.front();
        installResults.pop_front();
    }
    return result;
}

UINT SimWindows::MsiReinstallProductW(const char16_t* product, DWORD mode) {
    Record("MsiReinstallProductW(" + Q(product) + ", " + std::to_string(mode) + ")");
    return 0;
}

int SimWindows::MsiQueryProductStateW(const char16_t* product) {
    Record("MsiQueryProductStateW(" + Q(product) + ")");
    auto it = productStates.find(product ? product : u"");
    return it != productStates.end() ? it->second : -1;
}

UINT SimWindows::MsiOpenDatabaseW(const char16_t* path, const char16_t* persist, DWORD* database) {
    Record("MsiOpenDatabaseW(" + Q(path) + ", " +
           std::to_string(reinterpret_cast<uintptr_t>(persist)) + ")");
    std::u16string p = path ? path : u"";
    if (!packages.count(p)) return 110;  // ERROR_OPEN_FAILED
    *database = NewEngineHandle({"database", p, u""});
    return 0;
}

UINT SimWindows::MsiDatabaseOpenViewW(DWORD database, const char16_t* query, DWORD* view) {
    Record("MsiDatabaseOpenViewW(" + std::to_string(database) + ", " + Q(query) + ")");
    auto db = engineHandles_.find(database);
    if (db == engineHandles_.end() || db->second.kind != "database")
        return 6;  // ERROR_INVALID_HANDLE
    // SELECT `Value` FROM `Property` WHERE `Property`='NAME'
    std::u16string q = query ? query : u"";
    const std::u16string prefix = u"SELECT `Value` FROM `Property` WHERE `Property`='";
    if (q.compare(0, prefix.size(), prefix) != 0 || q.back() != u'\'') return 1615;  // bad query
    std::u16string name = q.substr(prefix.size(), q.size() - prefix.size() - 1);
    *view = NewEngineHandle({"view", db->second.path, name});
    return 0;
}

UINT SimWindows::MsiViewExecute(DWORD view, DWORD record) {
    Record("MsiViewExecute(" + std::to_string(view) + ", " + std::to_string(record) + ")");
    return engineHandles_.count(view) ? 0 : 6;
}

UINT SimWindows::MsiViewFetch(DWORD view, DWORD* record) {
    Record("MsiViewFetch(" + std::to_string(view) + ")");
    auto v = engineHandles_.find(view);
    if (v == engineHandles_.end()) return 6;
    const auto& properties = packages[v->second.path].properties;
    auto p = properties.find(v->second.value);
    if (p == properties.end()) return ERROR_NO_MORE_ITEMS;
    *record = NewEngineHandle({"record", v->second.path, p->second});
    return 0;
}

// Like the engine: in, the buffer size with the terminator; out, the length without it. A
// value that does not fit is copied in part without a terminator and gives ERROR_MORE_DATA.
UINT SimWindows::MsiRecordGetStringW(DWORD record, UINT field, char16_t* buffer, DWORD* length) {
    Record("MsiRecordGetStringW(" + std::to_string(record) + ", " + std::to_string(field) + ", " +
           std::to_string(*length) + ")");
    auto r = engineHandles_.find(record);
    if (r == engineHandles_.end() || field != 1) return 6;
    const std::u16string& value = r->second.value;
    DWORD capacity = *length;
    *length = static_cast<DWORD>(value.size());
    if (value.size() >= capacity) {
        memcpy(buffer, value.data(), capacity * sizeof(char16_t));
        return ERROR_MORE_DATA;
    }
    memcpy(buffer, value.c_str(), (value.size() + 1) * sizeof(char16_t));
    return 0;
}

UINT SimWindows::MsiCloseHandle(DWORD handle) {
    auto h = engineHandles_.find(handle);
    Record("MsiCloseHandle(" + (h != engineHandles_.end() ? h->second.kind : std::string("bad")) +
           ")");
    if (h == engineHandles_.end()) return 6;
    engineHandles_.erase(h);
    return 0;
}
