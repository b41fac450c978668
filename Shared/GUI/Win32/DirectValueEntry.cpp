#include "Shared/GUI/Win32/DirectValueEntry.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "Shared/GUI/Win32/KeyboardHook.h"

namespace pellucer::gui {

namespace {

/// One open box and what it applies to. A box whose close has started stays listed until its
/// last message (WM_NCDESTROY), so that late messages still find their previous procedure.
struct Session {
    HWND box = nullptr;
    WNDPROC previous = nullptr;
    double minimum = 0.0;
    double maximum = 1.0;
    DirectValueEntry::Apply apply;
    bool closing = false;
    /// While presses may still belong to the click that opened the box: the last of them, in
    /// screen pixels and message time.
    bool clicking = false;
    POINT press{};
    DWORD pressTime = 0;
};

// Module-wide, editor thread only.
std::vector<std::shared_ptr<Session>> sessions;
HWND openBox = nullptr;

std::shared_ptr<Session> sessionOf(HWND box) {
    for (const auto& session : sessions)
        if (session->box == box)
            return session;
    return nullptr;
}

void showBalloon(HWND box, const char16_t* title, const char16_t* text, INT icon) {
    EDITBALLOONTIP tip{};
    tip.cbStruct = sizeof(EDITBALLOONTIP);
    tip.pszTitle = win32::wide(title);
    tip.pszText = win32::wide(text);
    tip.ttiIcon = icon;
    SendMessageW(box, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
}

std::u16string boxText(HWND box) {
    std::array<wchar_t, DirectValueEntry::kMaxTextLength + 1> buffer{};
    const int length = GetWindowTextW(box, buffer.data(), static_cast<int>(buffer.size()));
    return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()),
                          static_cast<size_t>(std::max(length, 0)));
}

/// The signed coordinates packed in a mouse message's lParam or in GetMessagePos's answer.
POINT unpack(LPARAM packed) {
    return {static_cast<int16_t>(LOWORD(packed)), static_cast<int16_t>(HIWORD(packed))};
}

/// Whether a left press in the box (`at`: its client coordinates as the message packs them)
/// continues the click that opened the box: within the system's double-click time and
/// rectangle of the press before it, as the presses before it did. Such presses
/// leave the selection alone: the second press of a double click on a value lands in the box
/// and would otherwise put the caret into the text, so that typing no longer replaces it. A
/// later press places the caret as usual.
bool continuesOpeningClick(Session& session, HWND box, LPARAM at) {
    if (!session.clicking)
        return false;
    POINT p = unpack(at);
    ClientToScreen(box, &p);
    const DWORD time = static_cast<DWORD>(GetMessageTime());
    session.clicking = time - session.pressTime < GetDoubleClickTime() &&
                       std::abs(p.x - session.press.x) < GetSystemMetrics(SM_CXDOUBLECLK) / 2 &&
                       std::abs(p.y - session.press.y) < GetSystemMetrics(SM_CYDOUBLECLK) / 2;
    if (session.clicking) {
        session.press = p;
        session.pressTime = time;
    }
    return session.clicking;
}

/// Hands the typed number to the session's owner: clamped to the display range, normalised.
void applyNumber(const Session& session, double typed) {
    if (std::isnan(typed))
        typed = 0.0;
    const double display = std::clamp(typed, session.minimum, session.maximum);
    const double span = session.maximum - session.minimum;
    const double normalised = span > 0.0 ? std::clamp((display - session.minimum) / span, 0.0, 1.0) : 0.0;
    if (session.apply)
        session.apply(display, static_cast<float>(normalised));
}

/// Forgets the box: it is no longer the hook's target (the hook goes with it) nor the open box.
void release(const Session& session) {
    if (keyboardhook::target() == session.box) {
        keyboardhook::setTarget(nullptr);
        keyboardhook::remove();
    }
    if (openBox == session.box)
        openBox = nullptr;
}

/// Ends a session once: applies the box's text when asked, then destroys the box (whose last
/// message removes the hook and the session). Holding the session by value keeps it alive
/// when the owner's apply destroys the box's parent.
void finish(std::shared_ptr<Session> session, bool applyText) {
    if (session->closing)
        return;
    session->closing = true;
    if (applyText)
        applyNumber(*session, DirectValueEntry::parseLeadingNumber(boxText(session->box)));
    release(*session);
    if (IsWindow(session->box))
        DestroyWindow(session->box);
}

LRESULT CALLBACK editProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::shared_ptr<Session> session = sessionOf(box);
    if (session == nullptr)
        return DefWindowProcW(box, message, wParam, lParam);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: // the edit class selects a word on a double click
        if (continuesOpeningClick(*session, box, lParam))
            return 0;
        break;
    case WM_CHAR:
        if (session->closing)
            return 0;
        if (wParam == VK_RETURN) {
            finish(session, true);
            return 0;
        }
        if (wParam == VK_ESCAPE) {
            finish(session, false);
            return 0;
        }
        if (!DirectValueEntry::acceptsCharacter(wParam)) {
            showBalloon(box, DirectValueEntry::kInvalidKeyTitle, DirectValueEntry::kInvalidKeyText,
                        TTI_ERROR);
            return 0;
        }
        break;
    case WM_KILLFOCUS:
        if (!session->closing) {
            // Leaving the box applies it as Enter does. A box that can no longer be seen is
            // losing its focus because its window is being hidden or destroyed (the editor
            // closing): then nothing is applied, as the controls behind it may be going away.
            finish(session, IsWindowVisible(box) != FALSE);
            return 0;
        }
        break;
    case WM_NCDESTROY: {
        // The box's last message, however it goes (closed here, or with its parent).
        release(*session);
        SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(session->previous));
        std::erase(sessions, session);
        return CallWindowProcW(session->previous, box, message, wParam, lParam);
    }
    default:
        break;
    }
    return CallWindowProcW(session->previous, box, message, wParam, lParam);
}

} // namespace

bool DirectValueEntry::begin(Control& control, HWND parentWindow, HFONT font, double displayMinimum,
                             double displayMaximum, double displayValue, Apply apply) {
    if (control.editing() || control.tracking())
        return false;
    if (parentWindow == nullptr || !IsWindow(parentWindow) || !(displayMinimum <= displayMaximum))
        return false;
    // One box at a time: a box still open is left, which applies it.
    for (const auto& open : std::vector<std::shared_ptr<Session>>(sessions))
        finish(open, true);

    const Rect& r = control.rect();
    HWND box = CreateWindowExW(0, L"EDIT", L"", kBoxStyle, r.left - kLeftInset, r.top - kTopInset,
                               r.width - kWidthReduction, kBoxHeight, parentWindow, nullptr,
                               keyboardhook::moduleInstance(), nullptr);
    if (box == nullptr)
        return false;
    auto session = std::make_shared<Session>();
    session->box = box;
    session->minimum = displayMinimum;
    session->maximum = displayMaximum;
    session->apply = std::move(apply);
    // Opened by a left press (the message being handled): the rest of its double click follows.
    if (GetKeyState(VK_LBUTTON) < 0) {
        session->clicking = true;
        session->press = unpack(static_cast<LPARAM>(GetMessagePos()));
        session->pressTime = static_cast<DWORD>(GetMessageTime());
    }
    sessions.push_back(session);
    session->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&editProcedure)));
    SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&control));
    openBox = box;

    SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowTextW(box, win32::wide(formatValue(displayValue)));
    ShowWindow(box, SW_SHOW);
    SetFocus(box);
    SendMessageW(box, EM_SETSEL, 0, -1);
    showBalloon(box, kEntryTitle, kEntryText, TTI_INFO);

    keyboardhook::setTarget(box);
    installhook();
    return true;
}

HWND DirectValueEntry::box() { return openBox; }

void DirectValueEntry::cancel() {
    for (const auto& open : std::vector<std::shared_ptr<Session>>(sessions))
        finish(open, false);
}

std::u16string DirectValueEntry::formatValue(double value) {
    std::array<char, 512> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 1);
    return std::u16string(buffer.data(), result.ptr);
}

double DirectValueEntry::parseLeadingNumber(std::u16string_view text) {
    size_t i = 0;
    const auto at = [&](size_t k) -> char16_t { return k < text.size() ? text[k] : u'\0'; };
    const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    while (at(i) == u' ' || (at(i) >= u'\t' && at(i) <= u'\r'))
        ++i;
    bool negative = false;
    if (at(i) == u'+' || at(i) == u'-') {
        negative = at(i) == u'-';
        ++i;
    }
    // The number's characters, without its sign, as from_chars reads them.
    std::string number;
    int32_t integerDigits = 0;   // significant digits before the point
    int32_t leadingFraction = 0; // zeros after the point before the first significant digit
    bool significant = false;
    bool anyDigit = false;
    for (; isDigit(at(i)); ++i) {
        anyDigit = true;
        significant = significant || at(i) != u'0';
        integerDigits += significant ? 1 : 0;
        number += static_cast<char>(at(i));
    }
    if (at(i) == u'.') {
        number += '.';
        for (++i; isDigit(at(i)); ++i) {
            anyDigit = true;
            if (!significant && at(i) == u'0')
                ++leadingFraction;
            significant = significant || at(i) != u'0';
            number += static_cast<char>(at(i));
        }
    }
    if (!anyDigit)
        return 0.0;
    int64_t exponent = 0;
    if (at(i) == u'e' || at(i) == u'E') {
        size_t k = i + 1;
        const bool negativeExponent = at(k) == u'-';
        if (at(k) == u'+' || at(k) == u'-')
            ++k;
        if (isDigit(at(k))) {
            number += 'e';
            if (negativeExponent)
                number += '-';
            for (; isDigit(at(k)); ++k) {
                number += static_cast<char>(at(k));
                exponent = std::min<int64_t>(exponent * 10 + (at(k) - u'0'), 1'000'000'000);
            }
            exponent = negativeExponent ? -exponent : exponent;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Beyond the double range: too large when its first significant digit stands left of
        // the point, too small otherwise.
        const int64_t position = (integerDigits > 0 ? integerDigits : -leadingFraction) + exponent;
        value = position > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

bool DirectValueEntry::acceptsCharacter(WPARAM character) {
    switch (character) {
    case 0x03: // copy
    case 0x08: // backspace
    case 0x0C:
    case 0x10:
    case 0x16: // paste
    case 0x18: // cut
    case 0x1A: // undo
    case '%':
    case '\'':
    case '-':
    case '.':
        return true;
    default:
        return character >= '0' && character <= '9';
    }
}

} // namespace pellucer::gui
