// The "ProductSuite" reader on arbitrary multi-strings, also through the registry probe.
#include "tests/fuzz/fuzz_common.h"

#include <memory>

#include "probes/probes.h"
#include "tests/sim/sim_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimWindows sim;
    // Exactly the value's bytes in their own allocation, so a read past them is caught.
    std::unique_ptr<char16_t[]> copy(new char16_t[size / 2 + 1]);
    memcpy(copy.get(), data, size / 2 * 2);
    bool direct = ProductSuiteHasTerminalServer(copy.get(), size / 2 * 2);

    sim.registry[u"system\\currentcontrolset\\control\\productoptions"][u"ProductSuite"] =
        SimRegistryValue{REG_MULTI_SZ, std::vector<BYTE>(data, data + size)};
    bool probed = IsTerminalServer(false, 4);
    if (size % 2 == 0) FUZZ_CHECK(direct == probed);
    FUZZ_CHECK(sim.openKeys() == 0);
    return 0;
}
