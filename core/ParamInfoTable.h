#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/Parameters.h"

namespace pellucer {

/// One parameter description: the published MP_PARAMINFO record (148 bytes) followed by three
/// 32-bit fields. The host-visible parameter names are read from these records.
struct ParamInfoRecord {
    int32_t mpType;        ///< 0 MPT_INT, 1 MPT_FLOAT, 2 MPT_BOOL
    uint32_t mopCaps;
    float mpdMinValue;
    float mpdMaxValue;
    float mpdNeutralValue;
    char16_t szUnitText[32];
    char16_t szLabel[32];
    float trailingMin;
    float trailingMax;
    int32_t trailingFlags;
};
static_assert(sizeof(ParamInfoRecord) == 160 && offsetof(ParamInfoRecord, trailingMin) == 148);

constexpr int32_t kMptInt = 0;
constexpr int32_t kMptFloat = 1;
constexpr int32_t kMptBool = 2;
/// Jump, linear, square, inverse square and sine curves.
constexpr uint32_t kAllCurveCaps = 0x1f;

using ParamInfoTable = std::array<ParamInfoRecord, kNumParams>;

/// The engine's table (switches as MPT_INT, no curve capabilities).
const ParamInfoTable& paramInfoTable();
/// The twin table offered to DirectX automation (switches as MPT_BOOL, every curve shape).
const ParamInfoTable& automationParamInfoTable();

} // namespace pellucer
