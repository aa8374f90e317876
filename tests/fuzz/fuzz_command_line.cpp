// The command-line rules on arbitrary text: mode, the verify rule and the admin target.
#include "tests/fuzz/fuzz_common.h"

#include "install/install_package.h"
#include "tests/sim/sim_windows.h"
#include "vocabulary/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimWindows sim;
    std::u16string arguments = FuzzArguments(data, size), verify = arguments, admin = arguments;

    SetupMode mode = GetSetupMode(arguments.c_str());
    FUZZ_CHECK(mode <= kModeAdmin);

    const char16_t *first = nullptr, *last = nullptr, *file = nullptr, *target = nullptr;
    BOOL quoted = FALSE;
    if (GetNextArgument(arguments.c_str(), &first, &last, &quoted) == 0) {
        FUZZ_CHECK(Within(first, arguments) && Within(last, arguments) && last >= first);
    } else {
        FUZZ_CHECK(mode == kModeInstall);
    }

    bool taken = TakeVerifyFile(&verify[0], &file) == 0;
    FUZZ_CHECK(taken ? Within(file, verify) : file == nullptr);

    if (ParseAdminTarget(&admin[0], &target) == 0 && target) FUZZ_CHECK(Within(target, admin));
    return 0;
}
