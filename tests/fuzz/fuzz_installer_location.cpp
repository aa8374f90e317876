// "InstallerLocation" reads of arbitrary value types and bytes.
#include "tests/fuzz/fuzz_common.h"

#include "engine/installer_location.h"
#include "tests/sim/sim_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    SimWindows sim;
    const std::u16string key = u"software\\microsoft\\windows\\currentversion\\installer";
    SimRegistryValue value{static_cast<DWORD>(data[0] % 12),
                           std::vector<BYTE>(data + 1, data + size)};
    sim.registry[key][u"InstallerLocation"] = value;

    HKEY handle = nullptr;
    sim.RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle);
    OwnedText location;
    bool ok = ReadInstallerLocation(handle, &location);
    sim.RegCloseKey(handle);
    if (ok) {
        FUZZ_CHECK(value.type == REG_SZ || value.type == REG_EXPAND_SZ);
        FUZZ_CHECK(location.size() * 2 <= value.data.size());
    } else {
        FUZZ_CHECK(location.empty());
    }
    return 0;
}
