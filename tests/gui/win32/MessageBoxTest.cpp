// The message box's small-number interface: buttons, icons and flags to MB_ styles, the
// system's answers back to the editor's, and the replaceable function behind it.

#include "Shared/GUI/Win32/MessageBox.h"

#include <gtest/gtest.h>

#include "tests/gui/win32/Win32TestSupport.h"

namespace pellucer::gui {
namespace {

using namespace message_box;

TEST(MessageBoxStyle, ButtonsIconsAndFlagsMapToTheirStyles) {
    EXPECT_EQ(messageBoxStyle(kButtonsOk, 0, 0), static_cast<UINT>(MB_OK));
    EXPECT_EQ(messageBoxStyle(kButtonsOkCancel, 0, 0), static_cast<UINT>(MB_OKCANCEL));
    EXPECT_EQ(messageBoxStyle(kButtonsYesNo, 0, 0), static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(messageBoxStyle(kButtonsYesNoCancel, 0, 0), static_cast<UINT>(MB_YESNOCANCEL));
    EXPECT_EQ(messageBoxStyle(9, 0, 0), static_cast<UINT>(MB_OK));

    EXPECT_EQ(messageBoxStyle(kButtonsOk, kIconError, 0), static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, kIconQuestion, 0), static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, kIconWarning, 0), static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, kIconInformation, 0), static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, 5, 0), static_cast<UINT>(MB_OK));

    EXPECT_EQ(messageBoxStyle(kButtonsYesNo, kIconWarning, kFlagHelp),
              static_cast<UINT>(MB_YESNO | MB_ICONWARNING | MB_HELP));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, 0, kFlagSystemModal), static_cast<UINT>(MB_SYSTEMMODAL));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, 0, kFlagForeground), static_cast<UINT>(MB_SETFOREGROUND));
    EXPECT_EQ(
        messageBoxStyle(kButtonsOkCancel, kIconQuestion, kFlagHelp | kFlagSystemModal | kFlagForeground),
        static_cast<UINT>(MB_OKCANCEL | MB_ICONQUESTION | MB_HELP | MB_SYSTEMMODAL | MB_SETFOREGROUND));
    EXPECT_EQ(messageBoxStyle(kButtonsOk, 0, 1), static_cast<UINT>(MB_OK)); // unknown flag bits add nothing
}

TEST(MessageBoxStyle, AnswersMapToTheEditorsNumbers) {
    EXPECT_EQ(messageBoxAnswer(IDOK), kAnswerOk);
    EXPECT_EQ(messageBoxAnswer(IDCANCEL), kAnswerCancel);
    EXPECT_EQ(messageBoxAnswer(IDYES), kAnswerYes);
    EXPECT_EQ(messageBoxAnswer(IDNO), kAnswerNo);
    EXPECT_EQ(messageBoxAnswer(IDHELP), kAnswerHelp);
    EXPECT_EQ(messageBoxAnswer(IDCLOSE), kAnswerClose);
    for (int other : {0, IDABORT, IDRETRY, IDIGNORE, IDTRYAGAIN, IDCONTINUE, 32000, -5})
        EXPECT_EQ(messageBoxAnswer(other), kAnswerOther) << other;
    EXPECT_EQ(
        std::vector<int32_t>({kAnswerOk, kAnswerCancel, kAnswerYes, kAnswerNo, kAnswerHelp, kAnswerClose}),
        std::vector<int32_t>({1, 2, 3, 4, 5, 6}));
}

TEST(MessageBoxStyle, ShowPassesEverythingToTheFunctionInPlace) {
    test::MessageBoxRecorder boxes(IDNO);
    const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(showMessageBox(owner, u"Caption \u00E9", u"Body\ntext", kButtonsYesNoCancel, kIconQuestion, 0),
              kAnswerNo);
    ASSERT_EQ(boxes.count(), 1u);
    EXPECT_EQ(boxes.requests()[0].owner, owner);
    EXPECT_EQ(boxes.requests()[0].caption, u"Caption \u00E9");
    EXPECT_EQ(boxes.requests()[0].text, u"Body\ntext");
    EXPECT_EQ(boxes.requests()[0].style, static_cast<UINT>(MB_YESNOCANCEL | MB_ICONQUESTION));
}

int answerCancel(HWND, const wchar_t*, const wchar_t*, UINT) { return IDCANCEL; }

TEST(MessageBoxStyle, TheFunctionCanBeReplacedAndPutBack) {
    const MessageBoxFunction system = setMessageBoxFunction(&answerCancel);
    ASSERT_NE(system, nullptr);
    EXPECT_NE(system, &answerCancel);
    EXPECT_EQ(showMessageBox(nullptr, u"", u"", kButtonsOkCancel, 0, 0), kAnswerCancel);
    // Null puts the system's box back.
    EXPECT_EQ(setMessageBoxFunction(nullptr), &answerCancel);
    EXPECT_EQ(setMessageBoxFunction(&answerCancel), system);
    EXPECT_EQ(setMessageBoxFunction(system), &answerCancel);
}

} // namespace
} // namespace pellucer::gui
