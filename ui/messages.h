// The texts the user sees and the message boxes that show them. Every text comes from the
// executable's string table in the language the platform's resource lookup picks; every
// message box has the application title as its caption.
#pragma once

#include "platform/owned_text.h"
#include "seam/win32_api.h"

// One insert of a formatted text: a string for "%1", a 32-bit integer for "%1!d!".
class MsgArg {
public:
    MsgArg() = default;
    MsgArg(const char16_t* text) : value_(reinterpret_cast<DWORD_PTR>(text ? text : u"")) {}
    MsgArg(int number) : value_(static_cast<DWORD_PTR>(static_cast<LONG_PTR>(number))) {}
    MsgArg(DWORD number) : value_(static_cast<DWORD_PTR>(number)) {}
    DWORD_PTR value() const { return value_; }

private:
    DWORD_PTR value_ = 0;
};

// The unformatted text of `id`; empty when the table lacks it.
OwnedText LoadText(UINT id);

// The text of `id` with its inserts filled from the arguments; inserted text is copied as it
// stands and never interpreted again.
OwnedText FormatById(UINT id, MsgArg first = MsgArg(), MsgArg second = MsgArg());

// Formats an already loaded text the same way.
OwnedText FormatText(const char16_t* format, MsgArg first = MsgArg(), MsgArg second = MsgArg());

// Shows the unformatted text of `id` with the given style; returns the button pressed.
int ShowMessage(UINT id, UINT style);

// Shows a ready text with the given style; returns the button pressed.
int ShowMessageText(const char16_t* text, UINT style);

// Shows the formatted text of `id` in an error box. When the table lacks `id`, the box shows
// IDS_MISSING_RESOURCE naming the id instead, and the arguments are not used.
void ReportError(UINT id, MsgArg first = MsgArg(), MsgArg second = MsgArg());

// Shows IDS_CANCELLED as a warning and gives 1602, the result of a cancelled run.
DWORD ReportCancelled();

// Shows IDS_OUT_OF_MEMORY as an error and gives 14, the result of a step without memory.
DWORD ReportOutOfMemory();
