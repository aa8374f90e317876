#include "vocabulary/command_line.h"
#include "vocabulary/result_codes.h"

DWORD ParseAdminTarget(char16_t* arguments, const char16_t** target) {
    *target = nullptr;
    const char16_t* first = nullptr;
    char16_t* after = nullptr;
    DWORD result = TakeArgumentAfterSwitch(arguments, &first, &after);
    if (result == ERROR_BAD_ARGUMENTS) return kResultBadArguments;
    if (result != 0) return 0;

    // Cut the text right after the target.
    *after = 0;
    *target = first;
    return 0;
}
