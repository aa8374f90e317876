// Formatting the table's texts with arbitrary inserted text: the insert comes out verbatim.
#include "tests/fuzz/fuzz_common.h"

#include "res/resource.h"
#include "tests/sim/sim_windows.h"
#include "ui/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimWindows sim;
    sim.LoadEnglishStrings();
    std::u16string insert = FuzzArguments(data, size);
    for (UINT id :
         {IDS_PACKAGE_NOT_FOUND, IDS_REQUIRES_PACKAGE, IDS_NOT_TRUSTED, IDS_INVALID_OPERATION}) {
        std::u16string out = FormatById(id, insert.c_str()).c_str(), format = sim.strings[id];
        FUZZ_CHECK(out.find(insert) != std::u16string::npos);
        size_t inserts = 0;
        for (size_t at = 0; (at = format.find(u"%1", at)) != std::u16string::npos; at += 2)
            ++inserts;
        FUZZ_CHECK(out.size() == format.size() - 2 * inserts + insert.size() * inserts);
    }
    FUZZ_CHECK(sim.localBlocks() == 0);
    return 0;
}
