#include "Shared/GUI/Win32/ControlFrame.h"

#include <algorithm>

namespace pellucer::gui {

namespace {

constexpr int32_t kResultInvalid = static_cast<int32_t>(E_INVALIDARG);

} // namespace

ControlFrame::ControlFrame(PixelBuffer background, Callback callback)
    : background_(std::move(background)), callback_(std::move(callback)) {}

ControlFrame::~ControlFrame() {
    // Here, not in the base: the window's last message must still reach onDestroyed.
    destroyWindow();
    destroyControls();
    showCursor(true);
}

int32_t ControlFrame::open(HWND parent, const std::u16string& title, Point position) {
    if (background_.empty())
        return kResultInvalid;
    const DWORD style = parent != nullptr ? WS_CHILD | WS_CLIPSIBLINGS : WS_POPUP;
    const int32_t result =
        create(parent, style, 0, title, position, background_.width(), background_.height());
    if (result != S_OK)
        return result;
    if (HDC dc = GetDC(handle())) {
        backBuffer_ = std::make_unique<OffscreenContext>(dc, background_.width(), background_.height());
        ReleaseDC(handle(), dc);
    }
    clearRequested_ = true;
    backBufferValid_ = false;
    toolTip_ = std::make_unique<ToolTip>(handle(), false);
    // Timers asked for before the window existed (controls added before open) start now.
    for (auto it = controlTimers_.begin(); it != controlTimers_.end();) {
        if (setTimer(it->first, it->second.periodMs))
            ++it;
        else
            it = controlTimers_.erase(it);
    }
    if (!ticking_.empty())
        setTimer(kTickTimer, kTickMs);
    return S_OK;
}

Control* ControlFrame::addControl(std::unique_ptr<Control> control) {
    if (control == nullptr)
        return nullptr;
    Control* raw = control.get();
    controls_.push_back(std::move(control));
    raw->setHost(this);
    raw->setListener(this);
    raw->prepare(background_);
    if (raw->visible())
        invalidate(raw->rect());
    return raw;
}

Control* ControlFrame::controlAt(Point p) const {
    for (const auto& control : controls_)
        if (control->visible() && control->takesMouse() && control->rect().contains(p))
            return control.get();
    return nullptr;
}

void ControlFrame::setFocusedControl(Control* control) {
    if (control == focused_ || (control != nullptr && !control->acceptsFocus()))
        return;
    Control* previous = focused_;
    focused_ = control;
    if (previous != nullptr)
        previous->focusOff();
    if (focused_ != nullptr)
        focused_->focusOn();
}

void ControlFrame::showAbout() {
    hideToolTip();
    aboutShown_ = true;
    invalidateAll();
}

void ControlFrame::hideAbout() {
    aboutShown_ = false;
    // The About image was drawn into the back buffer: build it anew.
    redrawAll();
}

void ControlFrame::redrawAll() {
    clearRequested_ = true;
    backBufferValid_ = false;
    invalidateAll();
}

void ControlFrame::invalidate(const Rect& r) {
    if (isWindow())
        NativeWindow::invalidate(r);
}

void ControlFrame::captureMouse(Control& control) {
    captured_ = &control;
    NativeWindow::captureMouse();
}

void ControlFrame::releaseMouse(Control& control) {
    if (captured_ != &control)
        return;
    captured_ = nullptr;
    NativeWindow::releaseMouse();
}

int32_t ControlFrame::startTimer(Control& control, int32_t periodMs) {
    if (periodMs < 0)
        return 0;
    const uint32_t id = nextTimerId_++;
    controlTimers_[id] = ControlTimer{&control, static_cast<uint32_t>(periodMs)};
    if (isWindow() && !setTimer(id, static_cast<uint32_t>(periodMs))) {
        controlTimers_.erase(id);
        return 0;
    }
    return static_cast<int32_t>(id);
}

void ControlFrame::stopTimer(int32_t id) {
    if (id <= 0)
        return;
    killTimer(static_cast<uint32_t>(id));
    controlTimers_.erase(static_cast<uint32_t>(id));
}

void ControlFrame::registerTicks(Control& control) {
    if (std::find(ticking_.begin(), ticking_.end(), &control) != ticking_.end())
        return;
    ticking_.push_back(&control);
    if (ticking_.size() == 1 && isWindow())
        setTimer(kTickTimer, kTickMs);
}

void ControlFrame::showCursor(bool show) {
    // ShowCursor counts: keep our share of the count at one hide at most.
    if (show == !cursorHidden_)
        return;
    ShowCursor(show ? TRUE : FALSE);
    cursorHidden_ = !show;
}

void ControlFrame::moveCursorBy(int32_t dx, int32_t dy) {
    POINT p{};
    if (GetCursorPos(&p))
        SetCursorPos(p.x + dx, p.y + dy);
}

void ControlFrame::controlEvent(Control& control, int32_t eventCode, Point framePosition) {
    lastEvent_ = ControlEventRecord{&control, control.value(), control.id(), eventCode, framePosition};
    if (callback_)
        callback_(lastEvent_);
}

std::u16string ControlFrame::toolTipText(int32_t) { return {}; }

void ControlFrame::drawAbout(GdiDrawContext& context) {
    if (aboutImage_ == nullptr || aboutImage_->empty())
        return;
    const int32_t w = aboutImage_->width();
    const int32_t h = aboutImage_->height();
    const Rect to{(background_.width() - w) / 2, (background_.height() - h) / 2, w, h};
    context.drawBitmap(*aboutImage_, to, {0, 0});
}

void ControlFrame::updateToolTipText(const Control* control) {
    if (!toolTipsEnabled_ || engine_ == nullptr || control == nullptr)
        return;
    std::u16string text = toolTipText(control->id());
    if (text == toolTipText_)
        return;
    toolTipText_ = std::move(text);
    toolTipTextChanged_ = true;
    setTimer(kTipTextTimer, kTipTextMs);
}

void ControlFrame::hideToolTip() {
    killTimer(kHoverTimer);
    if (toolTip_ != nullptr)
        toolTip_->show(false);
}

template <typename Press> void ControlFrame::routePress(int32_t x, int32_t y, Press pressed) {
    hideToolTip();
    if (aboutShown_) {
        // The press only takes the About image away.
        hideAbout();
        swallowRelease_ = true;
        return;
    }
    // Keys go to the focused control, so the frame needs the keyboard once clicked.
    if (isWindow() && GetFocus() != handle())
        SetFocus(handle());
    Control* target = captured_;
    if (target == nullptr) {
        target = controlAt({x, y});
        if (target == nullptr)
            return;
        setFocusedControl(target);
    }
    pressed(*target, x - target->rect().left, y - target->rect().top);
}

void ControlFrame::onMouseDown(int32_t x, int32_t y, int32_t flags) {
    routePress(x, y, [flags](Control& c, int32_t cx, int32_t cy) { c.mouseDown(cx, cy, flags); });
}

void ControlFrame::onDoubleClick(int32_t x, int32_t y, int32_t flags) {
    routePress(x, y, [flags](Control& c, int32_t cx, int32_t cy) { c.doubleClick(cx, cy, flags); });
}

bool ControlFrame::routeMouseUp(int32_t x, int32_t y, int32_t flags) {
    if (swallowRelease_) {
        swallowRelease_ = false;
        return true;
    }
    if (captured_ != nullptr) {
        Control* target = captured_;
        target->mouseUp(x - target->rect().left, y - target->rect().top, flags);
        return true;
    }
    bool taken = false;
    // Every control under the pointer hears the release (controls may overlap). A control may
    // hide others while handling it, so the visibility is checked as we go.
    for (size_t i = 0; i < controls_.size(); ++i) {
        Control& control = *controls_[i];
        if (control.visible() && control.takesMouse() && control.rect().contains({x, y})) {
            control.mouseUp(x - control.rect().left, y - control.rect().top, flags);
            taken = true;
        }
    }
    return taken;
}

void ControlFrame::onMouseUp(int32_t x, int32_t y, int32_t flags) { routeMouseUp(x, y, flags); }

void ControlFrame::onMouseMove(int32_t x, int32_t y, int32_t flags) {
    if (captured_ != nullptr) {
        captured_->mouseMove(x - captured_->rect().left, y - captured_->rect().top, flags);
        return;
    }
    Control* under = controlAt({x, y});
    if (under != nullptr)
        under->mouseMove(x - under->rect().left, y - under->rect().top, flags);
    // The pointer moved: the tip waits for it to rest again.
    if (toolTip_ != nullptr && toolTip_->shown())
        toolTip_->show(false);
    updateToolTipText(under);
    if (toolTipsEnabled_ && engine_ != nullptr)
        setTimer(kHoverTimer, kHoverMs);
}

void ControlFrame::onWheel(int32_t x, int32_t y, int32_t flags, int32_t delta) {
    // The focused control turns, wherever the pointer is.
    if (focused_ == nullptr)
        return;
    const Point client = screenToClient({x, y});
    focused_->wheel(client.x - focused_->rect().left, client.y - focused_->rect().top, flags, delta);
}

void ControlFrame::onKeyDown(int32_t key) {
    if (focused_ != nullptr && focused_->keyDown(key))
        updateToolTipText(focused_);
}

void ControlFrame::onKeyUp(int32_t key) {
    if (focused_ != nullptr)
        focused_->keyUp(key);
}

void ControlFrame::destroyControls() {
    captured_ = nullptr;
    focused_ = nullptr;
    ticking_.clear();
    for (const auto& timer : controlTimers_)
        killTimer(timer.first);
    controlTimers_.clear();
    controls_.clear();
}

void ControlFrame::onDestroyed() {
    toolTip_.reset();
    if (captured_ != nullptr)
        NativeWindow::releaseMouse();
    showCursor(true);
    // The frame's controls go with its window.
    destroyControls();
}

void ControlFrame::onTimer(uint32_t id) {
    switch (id) {
    case kHoverTimer: {
        killTimer(kHoverTimer);
        POINT pointer{};
        if (toolTip_ == nullptr || aboutShown_ || toolTipText_.empty() || !GetCursorPos(&pointer) ||
            WindowFromPoint(pointer) != handle())
            return;
        toolTip_->setText(toolTipText_);
        toolTip_->setPosition({pointer.x, pointer.y}, kToolTipOffset);
        toolTip_->show(true);
        return;
    }
    case kHideTipTimer:
        killTimer(kHideTipTimer);
        hideToolTip();
        return;
    case kSettleTimer:
        // Hosts often move or uncover the window right after opening it: paint it all once more.
        killTimer(kSettleTimer);
        invalidateAll();
        return;
    case kTipTextTimer:
        killTimer(kTipTextTimer);
        if (toolTipTextChanged_ && toolTip_ != nullptr)
            toolTip_->setText(toolTipText_);
        toolTipTextChanged_ = false;
        return;
    case kTickTimer: {
        // A copy: a tick may register further controls.
        const std::vector<Control*> ticking = ticking_;
        for (Control* control : ticking)
            control->timerTick(static_cast<int32_t>(kTickTimer));
        return;
    }
    default: {
        const auto it = controlTimers_.find(id);
        if (it != controlTimers_.end())
            it->second.control->timerTick(static_cast<int32_t>(id));
        return;
    }
    }
}

void ControlFrame::onPaint(GdiDrawContext& context, const Rect& update) {
    if (backBuffer_ == nullptr || !backBuffer_->valid()) {
        context.fillRect(update, kClearColour);
        return;
    }
    const Point updateOrigin{update.left, update.top};
    if (backBufferValid_)
        context.copyFrom(update, *backBuffer_, updateOrigin);
    bool drew = false;
    if (clearRequested_) {
        const Rect whole{0, 0, backBuffer_->width(), backBuffer_->height()};
        backBuffer_->fillRect(whole, kClearColour);
        backBuffer_->drawPixels(background_.data(), background_.byteSize(), background_.rowBytes(), 0, 0,
                                background_.width(), background_.height(), 0, 0);
        for (const auto& control : controls_)
            control->markForRedraw();
        clearRequested_ = false;
        drew = true;
    }
    for (const auto& control : controls_)
        if (control->visible() && control->rect().intersects(update))
            drew = control->draw(*backBuffer_) || drew;
    if (aboutShown_) {
        drawAbout(*backBuffer_);
        drew = true;
    }
    if (drew)
        context.copyFrom(update, *backBuffer_, updateOrigin);
    backBufferValid_ = true;
    if (!firstPaintDone_) {
        firstPaintDone_ = true;
        setTimer(kSettleTimer, kSettleMs);
    }
}

} // namespace pellucer::gui
