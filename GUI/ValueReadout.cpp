#include "GUI/ValueReadout.h"

namespace pellucer {

void ValueReadout::mouseDown(int32_t, int32_t, int32_t flags) {
    using namespace gui::mouse;
    if ((flags & kLeft) == 0 || (flags & kAlt) != 0 || editing() || tracking())
        return;
    if (entryRequest_)
        entryRequest_();
}

} // namespace pellucer
