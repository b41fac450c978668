#include "core/ProgramRecord.h"

#include <algorithm>
#include <cstring>

namespace pellucer {

void ProgramRecord::makeBlank() {
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
    std::memcpy(magic, "TLtg", 4);
    version = kVersion;
    bodySize = kBodySize;
    values[kPlugInEnable] = 1.0f;
}

bool ProgramRecord::setValue(int32_t index, float value) {
    if (index < 0 || index >= kNumParams)
        return false;
    values[index] = value;
    return true;
}

void ProgramRecord::setName(const std::u16string& name) {
    const size_t n = std::min(name.size(), kNameUnits - 1);
    std::copy_n(name.begin(), n, wideName);
    wideName[n] = u'\0';
}

std::u16string ProgramRecord::name() const {
    size_t n = 0;
    while (n < kNameUnits && wideName[n] != u'\0')
        ++n;
    return std::u16string(wideName, n);
}

} // namespace pellucer
