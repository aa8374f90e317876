#include "vocabulary/command_line.h"

#include "tests/host/install_fixture.h"

namespace {
// The text stepping goes through the simulated platform.
using CommandLineTest = SimTest;

TEST_F(CommandLineTest, ModeLooksAtTheFirstArgumentOnly) {
    EXPECT_EQ(GetSetupMode(nullptr), kModeInstall);
    EXPECT_EQ(GetSetupMode(u""), kModeInstall);
    EXPECT_EQ(GetSetupMode(u" \t  \t"), kModeInstall);
    for (const char16_t* usage : {u"/?", u"/x", u"-h", u"/ab", u"/", u"\"/a\"", u"a", u"//",
                                  u"\"\"", u"\"", u"--", u"/a\"b\"", u"x/a"})
        EXPECT_EQ(GetSetupMode(usage), kModeUsage) << Utf8(usage);
    for (const char16_t* admin : {u"/a", u"-a", u"/A", u"-A", u"  /a  ", u"/a C:\\Target",
                                  u"/a \"C:\\Some Dir\"", u"/a\tx"})
        EXPECT_EQ(GetSetupMode(admin), kModeAdmin) << Utf8(admin);
    for (const char16_t* verify : {u"/v", u"-v", u"/V", u"-V", u"/v file", u"\t/v a b"})
        EXPECT_EQ(GetSetupMode(verify), kModeVerify) << Utf8(verify);
}

TEST_F(CommandLineTest, NextArgumentReportsBoundsAndQuoting) {
    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    BOOL quoted = TRUE;
    EXPECT_EQ(GetNextArgument(nullptr, &first, &last, &quoted), DWORD{ERROR_NO_MORE_ITEMS});
    EXPECT_EQ(GetNextArgument(u"  \t ", &first, &last, &quoted), DWORD{ERROR_NO_MORE_ITEMS});
    const char16_t* text = u"  abc def";
    ASSERT_EQ(GetNextArgument(text, &first, &last, &quoted), 0u);
    EXPECT_EQ(first, text + 2);
    EXPECT_EQ(last, text + 4);
    EXPECT_FALSE(quoted);
    const char16_t* spaced = u"\"C:\\My Dir\\f.exe\" next";
    ASSERT_EQ(GetNextArgument(spaced, &first, &last, &quoted), 0u);
    EXPECT_EQ(std::u16string(first, last + 1), u"C:\\My Dir\\f.exe");
    EXPECT_TRUE(quoted);
    EXPECT_EQ(last[1], u'"');
    // An empty pair of quotes at the end is the one-character argument made of the closing
    // quote; anything after the closing quote would belong to the same argument.
    const char16_t* empty = u"\"\"";
    ASSERT_EQ(GetNextArgument(empty, &first, &last, &quoted), 0u);
    EXPECT_EQ(first, empty + 1);
    EXPECT_EQ(last, empty + 1);
    EXPECT_TRUE(quoted);
    EXPECT_EQ(GetNextArgument(u"x", nullptr, nullptr, nullptr), 0u);  // every output is optional
}

struct VerifyCase {
    const char16_t* arguments;
    DWORD result;
    const char16_t* file;  // null: none
};

// Cuts the file out of a copy of each row's arguments; without a file the output is null.
void ExpectVerifyFiles(const std::vector<VerifyCase>& cases) {
    for (const auto& c : cases) {
        std::u16string buffer(c.arguments);
        buffer.push_back(0);
        const char16_t* file = u"untouched";
        EXPECT_EQ(TakeVerifyFile(&buffer[0], &file), c.result) << Utf8(c.arguments);
        if (c.file) {
            ASSERT_NE(file, nullptr) << Utf8(c.arguments);
            EXPECT_EQ(std::u16string(file), c.file) << Utf8(c.arguments);
        } else {
            EXPECT_EQ(file, nullptr) << Utf8(c.arguments);
        }
    }
}

TEST_F(CommandLineTest, VerifyRuleTakesExactlyOneFileAndCutsItInPlace) {
    ExpectVerifyFiles({{u"/v C:\\a.exe", 0, u"C:\\a.exe"},
                       {u"/v \"C:\\My Files\\a b.exe\"", 0, u"C:\\My Files\\a b.exe"},
                       {u"-V  file.msi   \t ", 0, u"file.msi"},
                       {u"/v \"quoted\"   ", 0, u"quoted"},
                       {u"/v \"\"", 0, u"\""},
                       {u"/v", ERROR_BAD_ARGUMENTS, nullptr},
                       {u"/v   ", ERROR_BAD_ARGUMENTS, nullptr},
                       {u"/v a b", ERROR_BAD_ARGUMENTS, nullptr},
                       {u"/v \"a b\" c", ERROR_BAD_ARGUMENTS, nullptr},
                       {u"/v \"a b\"c", ERROR_BAD_ARGUMENTS, nullptr},
                       // A lone opening quote at the end: an empty file name, and nothing read
                       // past the end.
                       {u"/v \"", 0, u""},
                       {u"\"", ERROR_BAD_ARGUMENTS, nullptr}});
}

// Names made on a Mac carry decomposed accents: "e" followed by U+0301 is one character to
// the platform's stepping, and the argument ends after the mark, not after the letter.
TEST_F(CommandLineTest, ArgumentsEndingInCombiningMarksKeepThem) {
    const char16_t* first = nullptr;
    const char16_t* last = nullptr;
    const char16_t* quoted = u"\"D:\\Cafe\u0301\u0327\" next";
    ASSERT_EQ(GetNextArgument(quoted, &first, &last, nullptr), 0u);
    EXPECT_EQ(*last, u'e');  // the base letter of the last character
    EXPECT_EQ(ArgumentEnd(last), quoted + 10);
    EXPECT_EQ(*ArgumentEnd(last), u'"');
    ExpectVerifyFiles({{u"/v \"D:\\My Files\\Cafe\u0301\"", 0, u"D:\\My Files\\Cafe\u0301"},
                       {u"/v D:\\Cafe\u0301", 0, u"D:\\Cafe\u0301"},
                       {u"/v D:\\Cafe\u0301 ", 0, u"D:\\Cafe\u0301"},
                       {u"/v \"D:\\Cafe\u0301\" more", ERROR_BAD_ARGUMENTS, nullptr}});
    for (const char16_t* arguments : {u"/a \"C:\\Dossier\\Re\u0301sume\u0301\"",
                                      u"/a C:\\Dossier\\Re\u0301sume\u0301 ignored"}) {
        std::u16string buffer(arguments);
        const char16_t* target = nullptr;
        EXPECT_EQ(ParseAdminTarget(&buffer[0], &target), 0u);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(std::u16string(target), u"C:\\Dossier\\Re\u0301sume\u0301") << Utf8(arguments);
    }
}
}  // namespace
