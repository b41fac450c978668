#include "Shared/GUI/Win32/MessageBox.h"

#include <atomic>

namespace pellucer::gui {

namespace {

int systemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style) {
    return MessageBoxW(owner, text, caption, style);
}

std::atomic<MessageBoxFunction> currentFunction{&systemMessageBox};

} // namespace

MessageBoxFunction setMessageBoxFunction(MessageBoxFunction function) {
    return currentFunction.exchange(function != nullptr ? function : &systemMessageBox);
}

UINT messageBoxStyle(int32_t buttons, int32_t icon, int32_t flags) {
    using namespace message_box;
    UINT style = MB_OK;
    switch (buttons) {
    case kButtonsOkCancel:
        style = MB_OKCANCEL;
        break;
    case kButtonsYesNo:
        style = MB_YESNO;
        break;
    case kButtonsYesNoCancel:
        style = MB_YESNOCANCEL;
        break;
    default:
        break;
    }
    switch (icon) {
    case kIconError:
        style |= MB_ICONERROR;
        break;
    case kIconQuestion:
        style |= MB_ICONQUESTION;
        break;
    case kIconWarning:
        style |= MB_ICONWARNING;
        break;
    case kIconInformation:
        style |= MB_ICONINFORMATION;
        break;
    default:
        break;
    }
    if ((flags & kFlagHelp) != 0)
        style |= MB_HELP;
    if ((flags & kFlagSystemModal) != 0)
        style |= MB_SYSTEMMODAL;
    if ((flags & kFlagForeground) != 0)
        style |= MB_SETFOREGROUND;
    return style;
}

int32_t messageBoxAnswer(int result) {
    using namespace message_box;
    switch (result) {
    case IDOK:
        return kAnswerOk;
    case IDCANCEL:
        return kAnswerCancel;
    case IDYES:
        return kAnswerYes;
    case IDNO:
        return kAnswerNo;
    case IDHELP:
        return kAnswerHelp;
    case IDCLOSE:
        return kAnswerClose;
    default:
        return kAnswerOther;
    }
}

int32_t showMessageBox(HWND owner, const std::u16string& caption, const std::u16string& text, int32_t buttons,
                       int32_t icon, int32_t flags) {
    const MessageBoxFunction function = currentFunction.load();
    return messageBoxAnswer(
        function(owner, win32::wide(text), win32::wide(caption), messageBoxStyle(buttons, icon, flags)));
}

} // namespace pellucer::gui
