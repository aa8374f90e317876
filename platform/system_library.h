// Loads system libraries from the system directory only.
//
// A setup program usually starts from a downloads folder, where a planted DLL named like a
// system library would otherwise be found first. Every library the setup loads by name is
// therefore loaded by its full path in the system directory, and the library's own imports
// are searched from there as well (LOAD_WITH_ALTERED_SEARCH_PATH).
#pragma once

#include "seam/win32_api.h"

// Loads `name` (for example u"wintrust.dll") from the system directory; null when it cannot
// be loaded, with the error left for GetLastError.
HMODULE LoadSystemLibrary(const char16_t* name);

// Loads `name` from the system directory as a data file only (for its resources).
HMODULE LoadSystemLibraryAsData(const char16_t* name);

// Looking up a library export has one idiom: ModuleRef::Find for a module the caller owns,
// FindExport for a module it does not (a handle kept elsewhere, or one of GetModuleHandle).

// A function of `module`, typed as the caller's function pointer type; null when missing.
template <typename Fn>
Fn FindExport(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Api().GetProcAddress(module, name)));
}

// Owns one reference to a loaded module and releases it with FreeLibrary.
class ModuleRef {
public:
    ModuleRef() = default;
    explicit ModuleRef(HMODULE module) : module_(module) {}
    ~ModuleRef() { Reset(); }
    ModuleRef(const ModuleRef&) = delete;
    ModuleRef& operator=(const ModuleRef&) = delete;

    HMODULE get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    void Reset() {
        if (module_) Api().FreeLibrary(module_);
        module_ = nullptr;
    }
    // Looks up a function by name, typed as the caller's function pointer type.
    template <typename Fn>
    Fn Find(const char* name) const {
        return FindExport<Fn>(module_, name);
    }

private:
    HMODULE module_ = nullptr;
};
