#include "app/command_line.h"
#include "app/result_codes.h"
#include "install/install_package.h"

DWORD ParseAdminTarget(char16_t* arguments, const char16_t** target) {
    *target = nullptr;
    const char16_t* switchLast = nullptr;
    if (GetNextArgument(arguments, nullptr, &switchLast, nullptr) != 0) return kResultBadArguments;

    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    if (GetNextArgument(ArgumentEnd(switchLast), &first, &last, nullptr) != 0) return 0;

    // Cut the text right after the target: its closing quote, the blank that ended it, or
    // the terminator.
    char16_t* after = arguments + (ArgumentEnd(last) - arguments);
    *after = 0;
    *target = first;
    return 0;
}
