#include "core/ParamInfoTable.h"

#include "core/ParameterTable.h"

namespace pellucer {

namespace {

ParamInfoTable buildTable(int32_t switchType, uint32_t caps) {
    ParamInfoTable table{};
    for (int32_t i = 0; i < kNumParams; ++i) {
        ParamInfoRecord& r = table[i];
        const ParamDescriptor& parameter = kParameters[static_cast<size_t>(i)];
        r.mpType = isSwitch(parameter.kind) ? switchType : kMptFloat;
        r.mopCaps = caps;
        r.mpdMinValue = 0.0f;
        r.mpdMaxValue = 1.0f;
        r.mpdNeutralValue = 1.0f;
        // Names are plain ASCII, so widening byte by byte is exact.
        const char* name = parameter.name;
        for (size_t k = 0; name[k] != '\0' && k + 1 < std::size(r.szLabel); ++k)
            r.szLabel[k] = static_cast<char16_t>(static_cast<unsigned char>(name[k]));
        r.trailingMin = 0.0f;
        r.trailingMax = 1.0f;
        r.trailingFlags = 0;
    }
    return table;
}

} // namespace

const ParamInfoTable& paramInfoTable() {
    static const ParamInfoTable table = buildTable(kMptInt, 0);
    return table;
}

const ParamInfoTable& automationParamInfoTable() {
    static const ParamInfoTable table = buildTable(kMptBool, kAllCurveCaps);
    return table;
}

} // namespace pellucer
