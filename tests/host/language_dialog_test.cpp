// The language dialog's own behaviour: rows that cannot be listed, duplicate languages,
// its icon, and painting while minimised.
#include "ui/language_dialog.h"

#include "tests/host/install_fixture.h"

namespace {
const LanguageEntry kRows[] = {
    {1060, u"Slovenščina", {}, {}}, {1033, u"English", {}, {}}, {1033, u"English (second)", {}, {}},
    {1040, u"Italiano", {}, {}},    {0, nullptr, {}, {}},
};

class LanguageDialogTest : public InstallFixture {};

TEST_F(LanguageDialogTest, TheLastMatchingRowIsPreselectedAndUnlistableRowsAreSkipped) {
    sim.comboRejects.insert(u"Italiano");
    Strings items;
    int selection = -2;
    sim.onModalDialog = [&](SimWindows& s, HWND dialog) {
        auto& list = s.Control(dialog, IDC_LANGUAGE_LIST);
        for (const auto& item : list.items) items.push_back(Utf8(item.text));
        selection = list.currentSelection;
        EXPECT_EQ(s.focus, s.GetDlgItem(dialog, IDC_LANGUAGE_LIST));
        s.Click(dialog, IDOK);
    };
    const LanguageEntry* chosen = ChooseLanguage(kRows, 1033);
    EXPECT_EQ(items, (Strings{"English", "English (second)", "Slovenščina"}));
    EXPECT_EQ(selection, 1);
    EXPECT_EQ(chosen, &kRows[2]);
}

TEST_F(LanguageDialogTest, IconIsTheBigOneOnlyAndIsPaintedCentredWhenMinimised) {
    HICON big = nullptr, small = reinterpret_cast<HICON>(1);
    INT_PTR dragIcon = 0;
    sim.onModalDialog = [&](SimWindows& s, HWND dialog) {
        big = s.windows[dialog].bigIcon;
        small = s.windows[dialog].smallIcon;
        dragIcon = s.SendMessageW(dialog, WM_QUERYDRAGICON, 0, 0);
        s.iconic = true;
        s.SendMessageW(dialog, WM_PAINT, 0, 0);
        s.iconic = false;
        s.Click(dialog, IDCANCEL);
    };
    EXPECT_EQ(ChooseLanguage(kRows, 1060), nullptr);
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(small, nullptr);
    EXPECT_EQ(dragIcon, reinterpret_cast<INT_PTR>(big));
    // Client area 279 x 70, icon 32 x 32: ((279 - 32 + 1) / 2, (70 - 32 + 1) / 2).
    EXPECT_EQ(sim.CallsNamed("DrawIcon"), Strings{"DrawIcon(124, 19, 0x7100)"});
    EXPECT_LT(sim.IndexOf("BeginPaint"), sim.IndexOf("DrawIcon"));
    EXPECT_LT(sim.IndexOf("DrawIcon"), sim.IndexOf("EndPaint"));
    EXPECT_EQ(sim.CountCalls("DestroyIcon"), 0u);  // a shared icon is never destroyed
}
}  // namespace
