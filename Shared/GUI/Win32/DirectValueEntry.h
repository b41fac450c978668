#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Shared/GUI/Control.h"
#include "Shared/GUI/Win32/WinApi.h"

namespace pellucer::gui {

/// Direct value entry: a small edit box over a value control in which the user types a number
/// instead of dragging. Only numeric keys reach the box (others bring the "Invalid key"
/// balloon); Enter or leaving the box applies the number, Escape closes it without applying.
/// While a box is open the module's keyboard hook (KeyboardHook.h) hands Enter and Escape to
/// it, so that a host that swallows those keys cannot keep the box open.
///
/// One box at a time, module-wide. Everything runs on the thread of the editor window, except
/// the hook procedure, which reaches the box with a sent message.
class DirectValueEntry {
public:
    /// Receives the entered number clamped to the display range, and its normalised value.
    using Apply = std::function<void(double displayValue, float normalised)>;

    /// The box's height in pixels; it sits 2 pixels left of and 4 above the control and is 4
    /// pixels narrower.
    static constexpr int32_t kBoxHeight = 18;
    static constexpr int32_t kLeftInset = 2;
    static constexpr int32_t kTopInset = 4;
    static constexpr int32_t kWidthReduction = 4;
    /// The most characters of the box's text that are read.
    static constexpr int32_t kMaxTextLength = 260;
    /// The edit box's style.
    static constexpr DWORD kBoxStyle =
        WS_CHILD | WS_VISIBLE | WS_BORDER | ES_WANTRETURN | ES_AUTOHSCROLL | ES_RIGHT;

    static constexpr const char16_t* kEntryTitle = u"Direct Parameter Value Entry";
    static constexpr const char16_t* kEntryText = u"Please type in the desired parameter value";
    static constexpr const char16_t* kInvalidKeyTitle = u"Invalid key";
    static constexpr const char16_t* kInvalidKeyText =
        u"Please use numeric keys to enter the parameter value [0..9]";

    /// Opens the edit box over `control` (a child of parentWindow at the control's left - 2 and
    /// top - 4, 4 pixels narrower, 18 high) showing displayValue with one decimal; when a number
    /// is entered (Enter or focus loss) it is clamped to [displayMinimum, displayMaximum],
    /// normalised, and `apply(displayValue, normalised)` is called. Answers false (and opens
    /// nothing) while the control is in a gesture (control.editing() or tracking()), when
    /// parentWindow is no window, when the range is reversed or NaN, or when the box cannot be
    /// made. A box still open is left first, which applies its text as leaving it does.
    /// Opened by a press of the left button (the message being handled), the box lets the rest
    /// of that click's double click land in it without touching the selected text; a later
    /// click places the caret as usual.
    static bool begin(Control& control, HWND parentWindow, HFONT font, double displayMinimum,
                      double displayMaximum, double displayValue, Apply apply);
    /// The open box's window (null when none) — for tests.
    static HWND box();
    /// Closes the open box without applying anything (the editor calls it before it destroys
    /// the window the box lives in). Does nothing when no box is open.
    static void cancel();

    /// The box's first text: `value` in fixed notation with one decimal ("3.5", "-12.0"),
    /// independent of the C library's locale.
    static std::u16string formatValue(double value);
    /// The leading decimal number of `text` as the C library's atof reads it (leading white
    /// space, a sign, digits with one decimal point, an exponent): 0 when there is none;
    /// plus or minus infinity or 0 for a number beyond the double range. Independent of the
    /// C library's locale.
    static double parseLeadingNumber(std::u16string_view text);
    /// True for the characters that reach the box: the editing controls 0x03 (copy), 0x08
    /// (backspace), 0x0C, 0x10, 0x16 (paste), 0x18 (cut), 0x1A (undo), and '%', '\'', '-',
    /// '.', '0'..'9'.
    static bool acceptsCharacter(WPARAM character);
};

} // namespace pellucer::gui
