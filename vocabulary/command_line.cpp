#include "vocabulary/command_line.h"

namespace {
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
}  // namespace

const char16_t* ArgumentEnd(const char16_t* last) {
    // The platform's stepping: a last letter followed by combining marks is one character,
    // so the end lies after its marks. On the terminator (the empty argument of a lone
    // opening quote at the very end) it stays there and never passes the end of the text.
    return Api().CharNextW(last);
}

DWORD GetNextArgument(const char16_t* position, const char16_t** first, const char16_t** last,
                      BOOL* quoted) {
    if (!position) return ERROR_NO_MORE_ITEMS;
    const char16_t* p = position;
    while (IsBlank(*p)) p = Api().CharNextW(p);
    if (*p == 0) return ERROR_NO_MORE_ITEMS;

    BOOL isQuoted = FALSE;
    if (*p == u'"') {
        p = Api().CharNextW(p);
        isQuoted = TRUE;
    }
    // The character at the start always belongs to the argument, even a closing quote or
    // the terminator that follows a lone opening quote.
    const char16_t* start = p;
    const char16_t* stop = *p ? Api().CharNextW(p) : p + 1;
    if (*p)
        while (*stop && (isQuoted ? *stop != u'"' : !IsBlank(*stop))) stop = Api().CharNextW(stop);

    if (first) *first = start;
    if (last) *last = *p ? Api().CharPrevW(start, stop) : start;
    if (quoted) *quoted = isQuoted;
    return 0;
}

SetupMode GetSetupMode(const char16_t* arguments) {
    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    BOOL quoted = FALSE;
    if (GetNextArgument(arguments, &first, &last, &quoted) != 0) return kModeInstall;
    if (quoted) return kModeUsage;
    if (last - first != 1) return kModeUsage;
    if (first[0] != u'/' && first[0] != u'-') return kModeUsage;
    switch (first[1]) {
        case u'a':
        case u'A':
            return kModeAdmin;
        case u'v':
        case u'V':
            return kModeVerify;
        default:
            return kModeUsage;
    }
}

DWORD TakeArgumentAfterSwitch(char16_t* arguments, const char16_t** first, char16_t** after) {
    *first = nullptr;
    *after = nullptr;
    const char16_t* switchLast = nullptr;
    if (GetNextArgument(arguments, nullptr, &switchLast, nullptr) != 0) return ERROR_BAD_ARGUMENTS;

    const char16_t* argumentFirst = nullptr;
    const char16_t* argumentLast = nullptr;
    if (GetNextArgument(ArgumentEnd(switchLast), &argumentFirst, &argumentLast, nullptr) != 0)
        return ERROR_NO_MORE_ITEMS;

    // The character after the argument: its closing quote, the blank that ended it, or the
    // terminator.
    *after = arguments + (ArgumentEnd(argumentLast) - arguments);
    *first = argumentFirst;
    return 0;
}

DWORD TakeVerifyFile(char16_t* arguments, const char16_t** file) {
    *file = nullptr;
    const char16_t* fileFirst = nullptr;
    char16_t* after = nullptr;
    if (TakeArgumentAfterSwitch(arguments, &fileFirst, &after) != 0) return ERROR_BAD_ARGUMENTS;
    if (*after != 0 && GetNextArgument(Api().CharNextW(after), nullptr, nullptr, nullptr) == 0)
        return ERROR_BAD_ARGUMENTS;

    *after = 0;
    *file = fileFirst;
    return 0;
}
