// The command-line rules on arbitrary text: mode, the verify rule and the admin target.
#include "tests/fuzz/fuzz_check.h"

#include "install/install_package.h"
#include "tests/fuzz/fuzz_common.h"
#include "tests/sim/sim_windows.h"
#include "vocabulary/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimWindows sim;
    std::u16string arguments = FuzzArguments(data, size);
    const char16_t* end = arguments.c_str() + arguments.size();

    SetupMode mode = GetSetupMode(arguments.c_str());
    FUZZ_CHECK(mode <= kModeAdmin);

    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    BOOL quoted = FALSE;
    if (GetNextArgument(arguments.c_str(), &first, &last, &quoted) == 0) {
        FUZZ_CHECK(first >= arguments.c_str() && first <= end);
        FUZZ_CHECK(last >= first && last <= end);
    } else {
        FUZZ_CHECK(mode == kModeInstall);
    }

    std::u16string verify = arguments;
    const char16_t* file = nullptr;
    if (TakeVerifyFile(&verify[0], &file) == 0) {
        FUZZ_CHECK(file >= verify.c_str() && file <= verify.c_str() + verify.size());
    } else {
        FUZZ_CHECK(file == nullptr);
    }

    std::u16string admin = arguments;
    const char16_t* target = nullptr;
    if (ParseAdminTarget(&admin[0], &target) == 0 && target) {
        FUZZ_CHECK(target >= admin.c_str() && target <= admin.c_str() + admin.size());
    }
    return 0;
}
