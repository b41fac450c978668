#pragma once

#include <cstdint>
#include <string>

#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

/// The editor's message boxes: buttons, icon and flags as small numbers, answers likewise.
namespace message_box {
inline constexpr int32_t kButtonsOk = 1;
inline constexpr int32_t kButtonsOkCancel = 2;
inline constexpr int32_t kButtonsYesNo = 3;
inline constexpr int32_t kButtonsYesNoCancel = 4;

inline constexpr int32_t kIconError = 1;
inline constexpr int32_t kIconQuestion = 2;
inline constexpr int32_t kIconWarning = 3;
inline constexpr int32_t kIconInformation = 4;

inline constexpr int32_t kFlagSystemModal = 2;
inline constexpr int32_t kFlagForeground = 4;
inline constexpr int32_t kFlagHelp = 8;

inline constexpr int32_t kAnswerOk = 1;
inline constexpr int32_t kAnswerCancel = 2;
inline constexpr int32_t kAnswerYes = 3;
inline constexpr int32_t kAnswerNo = 4;
inline constexpr int32_t kAnswerHelp = 5;
inline constexpr int32_t kAnswerClose = 6;
inline constexpr int32_t kAnswerOther = -1;
} // namespace message_box

/// What actually shows a box: MessageBoxW's shape (owner, text, caption, style) and answer.
using MessageBoxFunction = int (*)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);

/// Replaces the function that shows message boxes (null: MessageBoxW again) and answers the one
/// it replaces. A modal box would stop an unattended run, so tests put in one that records the
/// request and answers at once. Process-wide.
MessageBoxFunction setMessageBoxFunction(MessageBoxFunction function);

/// The MB_* style of buttons, icon and flags (unknown values add nothing).
UINT messageBoxStyle(int32_t buttons, int32_t icon, int32_t flags);
/// The editor's answer for a box's result (IDOK ... IDCLOSE), kAnswerOther for anything else.
int32_t messageBoxAnswer(int result);

/// Shows a message box over `owner` (may be null) and answers which button ended it.
int32_t showMessageBox(HWND owner, const std::u16string& caption, const std::u16string& text, int32_t buttons,
                       int32_t icon, int32_t flags);

} // namespace pellucer::gui
