#include "platform/owned_text.h"

#include <stdlib.h>
#include <string.h>

size_t TextLength(const char16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

OwnedText& OwnedText::operator=(OwnedText&& other) noexcept {
    if (this != &other) {
        Clear();
        text_ = other.text_;
        length_ = other.length_;
        other.text_ = nullptr;
        other.length_ = 0;
    }
    return *this;
}

bool OwnedText::Assign(const char16_t* text, size_t length) {
    char16_t* copy = static_cast<char16_t*>(malloc((length + 1) * sizeof(char16_t)));
    if (!copy) return false;
    if (length) memcpy(copy, text, length * sizeof(char16_t));
    copy[length] = 0;
    Clear();
    text_ = copy;
    length_ = length;
    return true;
}

bool OwnedText::Append(const char16_t* text, size_t length) {
    char16_t* grown =
        static_cast<char16_t*>(realloc(text_, (length_ + length + 1) * sizeof(char16_t)));
    if (!grown) return false;
    if (length) memcpy(grown + length_, text, length * sizeof(char16_t));
    text_ = grown;
    length_ += length;
    text_[length_] = 0;
    return true;
}

void OwnedText::Clear() {
    free(text_);
    text_ = nullptr;
    length_ = 0;
}
