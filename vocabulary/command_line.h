// The command-line rules: the tokenizer shared by the mode rule, the verify rule and the
// administrative target rule, and the mode of a run.
#pragma once

#include "seam/win32_api.h"

enum SetupMode : DWORD {
    kModeInstall = 0,
    kModeUsage = 1,
    kModeVerify = 2,
    kModeAdmin = 3,
};

// Finds the next argument from `position`. Gives 0 and the positions of the argument's first
// and last characters and whether it was quoted, or ERROR_NO_MORE_ITEMS when `position` is
// null or only blanks remain. Each output is optional. A quoted argument's first character
// always belongs to it, so an empty pair of quotes is the one-character argument `"`.
DWORD GetNextArgument(const char16_t* position, const char16_t** first, const char16_t** last,
                      BOOL* quoted);

// The position right after an argument whose last character is `last`, one platform
// character step on (a letter and its combining marks are one character): its closing quote,
// the blank that ended it, or the end of the text (never beyond).
const char16_t* ArgumentEnd(const char16_t* last);

// The mode that the first argument asks for.
SetupMode GetSetupMode(const char16_t* arguments);

// The argument after the switch (the first argument): gives 0 with its first character and
// the writable position right after it (see ArgumentEnd), ERROR_BAD_ARGUMENTS when the
// arguments hold no switch, or ERROR_NO_MORE_ITEMS when nothing follows the switch. Shared
// by the verify rule and the administrative target rule.
DWORD TakeArgumentAfterSwitch(char16_t* arguments, const char16_t** first, char16_t** after);

// The verify rule: the one file argument after the switch, cut in place (a terminator is
// written right after its last character). Gives 0 and the file, or ERROR_BAD_ARGUMENTS
// when the file is missing or further arguments follow it.
DWORD TakeVerifyFile(char16_t* arguments, const char16_t** file);

// The administrative target rule: the folder named after the /a switch. 160 when the
// arguments hold no argument at all; otherwise 0 with the target (null when none), cut in
// place inside `arguments`.
DWORD ParseAdminTarget(char16_t* arguments, const char16_t** target);
