// The simulated Windows Installer engine (msi.dll) and the other functions the setup looks
// up by name: common controls, the shutdown privilege, downloads.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <utility>

#include "state/installer_binding.h"
#include "tests/sim/sim_windows.h"

namespace {
std::string Q(const char16_t* s) { return s ? "\"" + Utf8(s) + "\"" : "null"; }

SimWindows& S() { return SimWindows::Current(); }

// Each function a module exports forwards to the SimWindows member of the same name.
template <auto Member, typename Result, typename... Parameters>
Result WINAPI Export(Parameters... parameters) {
    return (S().*Member)(parameters...);
}
template <auto Member, typename Result, typename... Parameters>
void* ExportOf(Result (SimWindows::*)(Parameters...)) {
    return reinterpret_cast<void*>(&Export<Member, Result, Parameters...>);
}
}  // namespace

FARPROC SimExport(const std::string& name) {
#define SIM_EXPORT(result, name, ...) {#name, ExportOf<&SimWindows::name>(&SimWindows::name)},
#define SIM_EXPORTS                \
    KAVRIN_SIM_EXPORTS(SIM_EXPORT) \
    KAVRIN_ENGINE_FUNCTIONS(SIM_EXPORT) SIM_EXPORT(, OpenProcessToken)
    static const std::map<std::string, void*> table = {SIM_EXPORTS};
#undef SIM_EXPORTS
#undef SIM_EXPORT
    auto it = table.find(name);
    // Any other export a test declares resolves to a function that must not be called.
    return reinterpret_cast<FARPROC>(it != table.end() ? it->second
                                                       : reinterpret_cast<void*>(&abort));
}

void SimWindows::AddEngine(const std::set<std::string>& missing) {
    std::set<std::string> exports;
#define SIM_ENGINE_NAME(result, name, ...) \
    if (!missing.count(#name)) exports.insert(#name);
    KAVRIN_ENGINE_FUNCTIONS(SIM_ENGINE_NAME)
#undef SIM_ENGINE_NAME
    AddSystemModule(u"msi.dll", exports);
    files[systemDirectory + u"\\msi.dll"] = SimFile{true, true, 0x00050000, false};
}

void SimWindows::AddPackage(const std::u16string& path, const std::u16string& productVersion,
                            const std::u16string& productCode) {
    auto& properties = packages[path].properties = {{u"ProductCode", productCode}};
    if (!productVersion.empty()) properties[u"ProductVersion"] = productVersion;
}

DWORD SimWindows::NewEngineHandle(EngineHandle handle) {
    DWORD h = nextEngineHandle_++;
    engineHandles_[h] = std::move(handle);
    return h;
}

BOOL SimWindows::InitCommonControlsEx(const void* init) {
    const DWORD* data = static_cast<const DWORD*>(init);
    Record("InitCommonControlsEx", {data[0], data[1]});
    return TRUE;
}

BOOL SimWindows::LookupPrivilegeValueW(const char16_t* system, const char16_t* name, LUID* luid) {
    Record("LookupPrivilegeValueW", {Q(system), Q(name)});
    *luid = LUID{19, 0};
    return TRUE;
}

BOOL SimWindows::AdjustTokenPrivileges(HANDLE token, BOOL disableAll, TOKEN_PRIVILEGES* state,
                                       DWORD length, TOKEN_PRIVILEGES* previous, DWORD* returned) {
    Record("AdjustTokenPrivileges",
           {handles_.count(token) ? "token" : "bad", disableAll,
            std::to_string(state->PrivilegeCount) + ":" +
                std::to_string(state->Privileges[0].Luid.LowPart) + ":" +
                std::to_string(state->Privileges[0].Attributes),
            length, previous ? "prev" : "null", returned ? "ret" : "null"});
    lastError_ = privilegeNotAssigned ? ERROR_NOT_ALL_ASSIGNED : 0;
    return TRUE;
}

int SimWindows::MsiSetInternalUI(int level, HWND* owner) {
    Record("MsiSetInternalUI", {level, owner ? "owner" : "null"});
    return std::exchange(uiLevel_, level);
}

UINT SimWindows::MsiInstallProductW(const char16_t* package, const char16_t* cmd) {
    Record("MsiInstallProductW", {Q(package), Q(cmd)});
    return Next(installResults, 0u);
}

UINT SimWindows::MsiApplyPatchW(const char16_t* patch, const char16_t* product, int type,
                                const char16_t* cmd) {
    Record("MsiApplyPatchW", {Q(patch), Q(product), type, Q(cmd)});
    return Next(installResults, 0u);
}

UINT SimWindows::MsiReinstallProductW(const char16_t* product, DWORD mode) {
    Record("MsiReinstallProductW", {Q(product), mode});
    return 0;
}

int SimWindows::MsiQueryProductStateW(const char16_t* product) {
    Record("MsiQueryProductStateW", {Q(product)});
    auto it = productStates.find(product ? product : u"");
    return it != productStates.end() ? it->second : -1;
}

UINT SimWindows::MsiOpenDatabaseW(const char16_t* path, const char16_t* persist, DWORD* database) {
    Record("MsiOpenDatabaseW", {Q(path), reinterpret_cast<uintptr_t>(persist)});
    std::u16string p = path ? path : u"";
    if (!packages.count(p)) return 110;  // ERROR_OPEN_FAILED
    *database = NewEngineHandle({"database", p, u""});
    return 0;
}

UINT SimWindows::MsiDatabaseOpenViewW(DWORD database, const char16_t* query, DWORD* view) {
    Record("MsiDatabaseOpenViewW", {database, Q(query)});
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
    Record("MsiViewExecute", {view, record});
    return engineHandles_.count(view) ? 0 : 6;
}

UINT SimWindows::MsiViewFetch(DWORD view, DWORD* record) {
    Record("MsiViewFetch", {view});
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
    Record("MsiRecordGetStringW", {record, field, *length});
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
    Record("MsiCloseHandle", {h != engineHandles_.end() ? h->second.kind : "bad"});
    if (h == engineHandles_.end()) return 6;
    engineHandles_.erase(h);
    return 0;
}

HRESULT SimWindows::URLDownloadToCacheFileW(void* caller, const char16_t* url, char16_t* path,
                                            DWORD size, DWORD reserved,
                                            IBindStatusCallback* callback) {
    Record("URLDownloadToCacheFileW",
           {caller ? "caller" : "null", Utf8(url), size, reserved, callback ? "callback" : "null"});
    auto it = downloads.find(url ? url : u"");
    if (it == downloads.end())
        return static_cast<HRESULT>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND
    Download download = it->second;
    if (callback) callback->AddRef();
    HRESULT result = download.result;
    for (const auto& step : download.progress) {
        if (callback && callback->OnProgress(step.first, step.second, 5, nullptr) == E_ABORT) {
            result = E_ABORT;
            break;
        }
    }
    if (callback) callback->Release();
    if (result >= 0) {
        size_t n = std::min<size_t>(download.cachePath.size(), size - 1);
        memcpy(path, download.cachePath.data(), n * sizeof(char16_t));
        path[n] = 0;
        files[download.cachePath];
    }
    return result;
}
