// The progress window as the user and the download see it.
#include "ui/progress_dialog.h"

#include "tests/host/install_fixture.h"

namespace {
class ProgressDialogTest : public InstallFixture {
protected:
    void World() override {
        theApp.LoadAppName();
        ASSERT_TRUE(dialog.Create(sim.GetDesktopWindow()));
        window = dialog.m_hWnd;
    }
    void TearDown() override {
        if (dialog.IsWindow()) dialog.DestroyWindow();
        InstallFixture::TearDown();
    }
    CNapredekDlg dialog;
    HWND window = nullptr;
};

TEST_F(ProgressDialogTest, CreationLoadsIconsSetsTitleAndFocusesCancel) {
    EXPECT_EQ(Utf8(sim.windows[window].text), "Windows Installer Installation Wrapper");
    EXPECT_NE(dialog.smallIcon, nullptr);
    EXPECT_NE(dialog.bigIcon, nullptr);
    EXPECT_EQ(sim.windows[window].smallIcon, dialog.smallIcon);
    EXPECT_EQ(sim.windows[window].bigIcon, dialog.bigIcon);
    EXPECT_EQ(sim.CallsNamed("LoadImageW"),
              (Strings{"LoadImageW(128, 1, 16, 16, 0x0)", "LoadImageW(128, 1, 32, 32, 0x0)"}));
    EXPECT_EQ(sim.CallsNamed("LoadCursorW"), Strings{"LoadCursorW(null, 32514)"});
    EXPECT_EQ(sim.focus, dialog.cancelButton.m_hWnd);
    EXPECT_FALSE(dialog.CancelRequested());
    EXPECT_LT(sim.IndexOf("LoadImageW"), sim.IndexOf("GetDlgItem"));  // created before initialised
}

TEST_F(ProgressDialogTest, CancelEscAndCloseOnlyRecordTheRequest) {
    sim.Click(window, IDCANCEL);
    EXPECT_TRUE(dialog.CancelRequested());
    sim.Click(window, IDCANCEL);
    sim.SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(dialog.CancelRequested());
    EXPECT_TRUE(sim.windows[window].alive);
    EXPECT_TRUE(sim.windows[window].visible);
    EXPECT_EQ(sim.CountCalls("EndDialog"), 0u);
    EXPECT_EQ(sim.CountCalls("DestroyWindow"), 0u);
}

TEST_F(ProgressDialogTest, WaitCursorEverywhereButOverCancel) {
    const std::pair<HWND, int> places[] = {
        {dialog.titleCtrl.m_hWnd, 1}, {window, 2}, {dialog.cancelButton.m_hWnd, 1}};
    for (const auto& over : places) {
        sim.cursor = nullptr;
        bool cancel = over.first == dialog.cancelButton.m_hWnd;
        EXPECT_EQ(sim.SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(over.first),
                                   over.second),
                  cancel ? FALSE : TRUE);
        EXPECT_EQ(sim.cursor, cancel ? nullptr : dialog.waitCursor);
    }
}

TEST_F(ProgressDialogTest, ProgressDrawsRangeThenPositionAndAbortsOnceCancelled) {
    IBindStatusCallback* callback = dialog.Callback();
    EXPECT_EQ(callback->OnProgress(10, 0, 5, nullptr), S_OK);
    auto& bar = sim.Control(window, IDC_PROGRESS_BAR);
    EXPECT_EQ(bar.rangeHigh, 0);
    EXPECT_EQ(bar.position, 10);
    EXPECT_EQ(callback->OnProgress(4096, 20000, 4, u"text"), S_OK);
    EXPECT_EQ(bar.rangeHigh, 20000);
    EXPECT_EQ(bar.position, 4096);
    int range = sim.IndexOf("SendMessageW", sim.calls.size() - 3);
    EXPECT_NE(sim.calls[range].find("0x406"), std::string::npos);
    EXPECT_NE(sim.calls[range + 1].find("0x402"), std::string::npos);
    sim.Click(window, IDCANCEL);
    EXPECT_EQ(callback->OnProgress(5000, 20000, 5, nullptr), E_ABORT);
    EXPECT_EQ(bar.position, 5000);  // still drawn
    // Without a bar the callback still tells the cancel state.
    dialog.DestroyWindow();
    EXPECT_EQ(callback->OnProgress(1, 2, 3, nullptr), E_ABORT);
}

TEST_F(ProgressDialogTest, CallbackIdentityAndCountingNeverDeleteTheWindowObject) {
    IBindStatusCallback* callback = dialog.Callback();
    void* object = nullptr;
    EXPECT_EQ(callback->QueryInterface(kIIDUnknown, &object), S_OK);
    EXPECT_EQ(object, callback);
    EXPECT_EQ(callback->QueryInterface(kIIDBindStatusCallback, &object), S_OK);
    EXPECT_EQ(object, callback);
    EXPECT_EQ(dialog.refCount, 2u);
    IID other = kIIDUnknown;
    other.Data1 = 0x6d5140c1;
    EXPECT_EQ(callback->QueryInterface(other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(callback->Release(), 1u);
    EXPECT_EQ(callback->Release(), 0u);
    EXPECT_EQ(callback->OnStopBinding(S_OK, nullptr), S_OK);  // still alive
    LONG priority = 77;
    EXPECT_EQ(callback->GetPriority(&priority), S_OK);
    EXPECT_EQ(priority, 77);
}

TEST_F(ProgressDialogTest, DestroyingTheWindowFreesBothIcons) {
    EXPECT_EQ(sim.openHandles(), 2);  // the two icons (the mutex is not taken here)
    dialog.DestroyWindow();
    EXPECT_EQ(dialog.smallIcon, nullptr);
    EXPECT_EQ(dialog.bigIcon, nullptr);
    EXPECT_EQ(sim.CountCalls("DestroyIcon"), 2u);
}

TEST_F(ProgressDialogTest, TextsFromTheWorkerReachTheControls) {
    dialog.SetTitleText(u"Title");
    dialog.SetStatusText(u"Status");
    dialog.HideWindow();
    EXPECT_EQ(Utf8(sim.Control(window, IDC_PROGRESS_TITLE).text), "Title");
    EXPECT_EQ(Utf8(sim.Control(window, IDC_PROGRESS_STATUS).text), "Status");
    EXPECT_FALSE(sim.windows[window].visible);
}
}  // namespace
