#include "ui/messages.h"

#include <algorithm>

#include "tests/host/install_fixture.h"

namespace {
class MessagesTest : public SimTest {
protected:
    void SetUp() override {
        sim.LoadEnglishStrings();
        theApp.LoadAppName();
    }
};

TEST_F(MessagesTest, ReportErrorWithAnAbsentIdNamesTheId) {
    ReportError(99, u"ignored");
    ASSERT_EQ(Boxes(), Strings{"The required data with code 99 is missing."});
    EXPECT_EQ(Utf8(sim.messageBoxes[0].caption), "Windows Installer Installation Wrapper");
    EXPECT_EQ(sim.messageBoxes[0].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(sim.messageBoxes[0].owner, nullptr);
}

TEST_F(MessagesTest, InsertedTextIsNeverInterpretedAgain) {
    ReportError(IDS_PACKAGE_NOT_FOUND, u"C:\\100%1 sure!d!\\%2!d!.msi");
    EXPECT_EQ(Boxes(), Strings{"Setup was unable to find the MSI package or patch "
                               "'C:\\100%1 sure!d!\\%2!d!.msi'."});
}

TEST_F(MessagesTest, FormatFillsRepeatedAndNumericInserts) {
    EXPECT_EQ(Utf8(FormatById(IDS_REQUIRES_PACKAGE, u"Quorvex Lumora").c_str()),
              "This installation requires package 'Quorvex Lumora'. Do you wish to install it "
              "now?\nIf you already installed 'Quorvex Lumora', you can choose 'No'.");
    EXPECT_EQ(Utf8(FormatById(IDS_INSTALL_ERROR, 1605).c_str()),
              "An error occured installing the package. Windows Installer returned '1605'.");
    EXPECT_EQ(Utf8(FormatById(IDS_INVALID_MSI_VERSION, -3, 200).c_str()),
              "'-3' is an invalid MSI version. Be sure that it is numeric and is at least '200'.");
}

TEST_F(MessagesTest, ShowMessageShowsTheTextUnformatted) {
    sim.messageBoxAnswers = {IDYES};
    sim.strings[IDS_USAGE] = u"50% of /? !d! %1";
    EXPECT_EQ(ShowMessage(IDS_USAGE, MB_ICONINFORMATION), IDYES);
    EXPECT_EQ(Utf8(sim.messageBoxes.at(0).text), "50% of /? !d! %1");
    EXPECT_EQ(sim.CountCalls("FormatMessageW"), 0u);
    EXPECT_EQ(Utf8(LoadText(IDS_DOWNLOADING_INSTMSI).c_str()),
              "Downloading Windows Installer upgrade executable");
    EXPECT_TRUE(LoadText(14).empty());
}

TEST_F(MessagesTest, UsageTextKeepsItsLayout) {
    OwnedText usage = LoadText(IDS_USAGE);
    std::u16string text(usage.c_str());
    EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'), 5);
    EXPECT_EQ(text.back(), u'\n');
    EXPECT_NE(text.find(u"\n   /? :  Show"), std::u16string::npos);
}

TEST_F(MessagesTest, TheApplicationNameFallsBackToTheFileName) {
    sim.strings.erase(AFX_IDS_APP_TITLE);
    sim.modulePath = u"C:\\Users\\me\\Downloads\\Lumora.Setup.exe";
    theApp.LoadAppName();
    ShowMessage(IDS_CANCELLED, MB_ICONWARNING);
    EXPECT_EQ(Utf8(sim.messageBoxes.at(0).caption), "Lumora.Setup");
}
}  // namespace
