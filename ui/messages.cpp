#include "ui/messages.h"

#include "fw/win_app.h"
#include "res/resource.h"
#include "vocabulary/result_codes.h"

namespace {

// The text of `id` as the resource holds it (not terminated), and its length.
int FindText(UINT id, const char16_t** text) {
    *text = nullptr;
    CWinApp* app = AfxGetApp();
    // A zero buffer size asks for a pointer to the resource text itself.
    int length = Api().LoadStringW(app ? app->m_hInstance : nullptr, id,
                                   reinterpret_cast<char16_t*>(text), 0);
    return length > 0 && *text ? length : 0;
}

// Message boxes belong to the main window (the progress window) while it exists.
HWND MessageOwner() {
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd && app->m_pMainWnd->IsWindow()) return app->m_pMainWnd->m_hWnd;
    return nullptr;
}

const char16_t* Caption() {
    CWinApp* app = AfxGetApp();
    return app ? app->AppName() : u"";
}

}  // namespace

OwnedText LoadText(UINT id) {
    OwnedText result;
    const char16_t* text = nullptr;
    int length = FindText(id, &text);
    if (length > 0) result.Assign(text, static_cast<size_t>(length));
    return result;
}

OwnedText FormatText(const char16_t* format, MsgArg first, MsgArg second) {
    OwnedText result;
    DWORD_PTR arguments[2] = {first.value(), second.value()};
    char16_t* formatted = nullptr;
    DWORD length = Api().FormatMessageW(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        format, 0, 0, reinterpret_cast<char16_t*>(&formatted), 0, arguments);
    if (formatted) {
        result.Assign(formatted, length);
        Api().LocalFree(formatted);
    }
    return result;
}

OwnedText FormatById(UINT id, MsgArg first, MsgArg second) {
    OwnedText format = LoadText(id);
    if (format.IsNull()) return format;
    return FormatText(format.c_str(), first, second);
}

int ShowMessageText(const char16_t* text, UINT style) {
    return Api().MessageBoxW(MessageOwner(), text ? text : u"", Caption(), style);
}

int ShowMessage(UINT id, UINT style) {
    OwnedText text = LoadText(id);
    return ShowMessageText(text.c_str(), style);
}

void ReportError(UINT id, MsgArg first, MsgArg second) {
    OwnedText format = LoadText(id);
    OwnedText text = format.IsNull()
                         ? FormatById(IDS_MISSING_RESOURCE, MsgArg(static_cast<int>(id)))
                         : FormatText(format.c_str(), first, second);
    ShowMessageText(text.c_str(), MB_ICONERROR);
}

DWORD ReportCancelled() {
    ShowMessage(IDS_CANCELLED, MB_ICONWARNING);
    return kResultCancelled;
}

DWORD ReportOutOfMemory() {
    ShowMessage(IDS_OUT_OF_MEMORY, MB_ICONERROR);
    return kResultOutOfMemory;
}
