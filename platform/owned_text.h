// A heap copy of a UTF-16 text with one owner, as the application object keeps its paths.
// Allocation failure is reported by the result of Assign/Append, never by an exception.
#pragma once

#include <stddef.h>

size_t TextLength(const char16_t* text);

class OwnedText {
public:
    OwnedText() = default;
    ~OwnedText() { Clear(); }
    OwnedText(const OwnedText&) = delete;
    OwnedText& operator=(const OwnedText&) = delete;
    OwnedText(OwnedText&& other) noexcept : text_(other.text_), length_(other.length_) {
        other.text_ = nullptr;
        other.length_ = 0;
    }
    OwnedText& operator=(OwnedText&& other) noexcept;

    // Replace the content with a copy of `length` characters (or up to the terminator).
    bool Assign(const char16_t* text, size_t length);
    bool Assign(const char16_t* text) { return Assign(text, TextLength(text)); }
    bool Append(const char16_t* text, size_t length);
    bool Append(const char16_t* text) { return Append(text, TextLength(text)); }
    void Clear();

    bool IsNull() const { return text_ == nullptr; }
    const char16_t* c_str() const { return text_ ? text_ : u""; }
    char16_t* data() { return text_; }
    size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

private:
    char16_t* text_ = nullptr;
    size_t length_ = 0;
};
