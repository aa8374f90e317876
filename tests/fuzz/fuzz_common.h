// Helpers shared by the fuzzers: a check that holds with or without NDEBUG, and the input as text.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

[[noreturn]] inline void FuzzFail(const char* file, int line, const char* condition) {
    fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    abort();
}
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : FuzzFail(__FILE__, __LINE__, #condition))

// The input as UTF-16 up to its first NUL, as a terminated, writable string.
inline std::u16string FuzzArguments(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) memcpy(&text[0], data, text.size() * 2);
    return text.substr(0, text.find(u'\0'));
}

// Whether p points into text or at its terminator.
inline bool Within(const char16_t* p, const std::u16string& text) {
    return p >= text.c_str() && p <= text.c_str() + text.size();
}
