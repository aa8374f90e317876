#include "app/command_line.h"
#include "app/result_codes.h"
#include "install/install_package.h"

DWORD ParseAdminTarget(char16_t* arguments, const char16_t** target) {
    *target = nullptr;
    const char16_t* switchLast = nullptr;
    if (GetNextArgument(arguments, nullptr, &switchLast, nullptr) != 0) return kResultBadArguments;

    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    if (GetNextArgument(switchLast + 1, &first, &last, nullptr) != 0) return 0;

    // Cut the text right after the target: its closing quote, the blank that ended it, or
    // the terminator. A lone opening quote at the very end yields an empty target that sits
    // on the terminator itself, so nothing past the end is touched.
    char16_t* after = arguments + (last - arguments) + (*last ? 1 : 0);
    *after = 0;
    *target = first;
    return 0;
}
