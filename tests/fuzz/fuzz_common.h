// Helpers shared by the fuzzers: the input as UTF-16 text, on a fresh simulated Windows.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>

inline std::u16string FuzzText(const uint8_t* data, size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) memcpy(&text[0], data, text.size() * 2);
    return text;
}

// The text up to its first NUL, as a terminated, writable string.
inline std::u16string FuzzArguments(const uint8_t* data, size_t size) {
    std::u16string text = FuzzText(data, size);
    size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return text;
}
