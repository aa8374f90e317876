// The English string table of the setup, as the simulated resource lookup serves it. The texts
// are made at build time from tests/expected_texts.py, the one copy that the resource checks
// and the Wine tests compare the setup with too.
#include "tests/sim/sim_windows.h"

void SimWindows::LoadEnglishStrings() {
    strings = {
#include "english_strings.inc"
    };
}
