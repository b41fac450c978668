#pragma once

#include <array>
#include <cstdint>

namespace pellucer {

/// Parameter indices in host order. Every shell, the chunk and the editor use this order.
enum ParamIndex : int32_t {
    kPlugInEnable = 0,
    kInputTubeEnable,
    kInputGain,
    kInputTubeSaturation,
    kCompanderEnable,
    kCompressorThresh,
    kCompressorRatio,
    kExpanderThresh,
    kExpanderRatio,
    kCompanderAttack,
    kEqEnable,
    kEqTubeSaturation,
    kEqTubeLowEnable,
    kEqTubeMidEnable,
    kEqTubeHighEnable,
    kEqLowFreq,
    kEqLowGain,
    kEqMidFreq,
    kEqMidGain,
    kEqHighFreq,
    kEqHighGain,
    kDeEsserEnable,
    kDeEsserFreq,
    kDeEsserDepth,
    kDeEsserListen,
    kDoublerEnable,
    kDoublerPresence,
    kDoublerStereo,
    kDelayEnable,
    kDelaySyncEnable,
    kDelayTime,
    kDelayLevel,
    kDelayFeedback,
    kDelayFilterMode,
    kDelayFilterFreq,
    kOutputTubeEnable,
    kOutputGain,
    kOutputTubeSaturation,
    kReserved, ///< carries the module order code, not a normalised value
    kNumParams
};

/// Indices past the host-visible ones that the engine still accepts (editor use only).
constexpr int32_t kFirstEditorIndex = 39;
constexpr int32_t kPageSlotIndex = 61; ///< the editor page on show, read back as page * kPageSlotStep
constexpr float kPageSlotStep = 0.25f;
/// Indices 62..66 each select one editor page, whatever the value, and read 1 while it shows.
constexpr int32_t kSelectCompanderPage = 62;
constexpr int32_t kSelectEqPage = 63;
constexpr int32_t kSelectDeEsserPage = 64;
constexpr int32_t kSelectDoublerPage = 65;
constexpr int32_t kSelectDelayPage = 66;
constexpr int32_t kFirstPageSelect = kSelectCompanderPage;
constexpr int32_t kLastPageSelect = kSelectDelayPage;
constexpr int32_t kLastEngineIndex = kLastPageSelect;
/// Index code of a refresh request from the editor: the value names the parameter to refresh.
constexpr int32_t kRefreshRequest = 2048;

/// The editor's pages, numbered as the page slot counts them; `None` for the parameters that
/// stand outside the pages.
enum class EditorPage : int32_t { None = -1, DeEsser, Compander, Equaliser, Doubler, Delay };
constexpr int32_t kPageCount = 5;

/// The page that index 62..66 selects (`None` for other indices).
constexpr EditorPage pageSelectedBy(int32_t index) {
    constexpr EditorPage kPages[] = {EditorPage::Compander, EditorPage::Equaliser, EditorPage::DeEsser,
                                     EditorPage::Doubler, EditorPage::Delay};
    return index >= kFirstPageSelect && index <= kLastPageSelect ? kPages[index - kFirstPageSelect]
                                                                 : EditorPage::None;
}
/// The index (62..66) that selects `page`.
constexpr int32_t pageSelector(EditorPage page) {
    for (int32_t index = kFirstPageSelect; index <= kLastPageSelect; ++index)
        if (pageSelectedBy(index) == page)
            return index;
    return -1;
}

enum class ParamKind { Switch, InvertedSwitch, Continuous, Code };

constexpr bool isSwitch(ParamKind kind) {
    return kind == ParamKind::Switch || kind == ParamKind::InvertedSwitch;
}
/// A switch is on above one half.
constexpr bool switchOn(float v) { return v > 0.5f; }

/// The parameter's kind (`Continuous` outside 0..38).
ParamKind paramKind(int32_t index);
/// The parameter's host-visible name ("Input Gain"), or "" outside 0..38.
const char* paramName(int32_t index);

/// Normalised values of program 0, "Full Reset" (parameter 38 holds the code 12345).
extern const std::array<float, kNumParams> kFullResetValues;

// ---- module order code ------------------------------------------------------------------------
/// The five movable stages by module number.
enum ModuleNumber : int32_t { kModuleDeEsser = 0, kModuleCompander, kModuleEqualiser, kModuleDoubler, kModuleDelay,
                              kModuleOutput };

constexpr double kFirstOrderCode = 12345.0;
constexpr double kLastOrderCode = 54321.0;

/// Decodes a module order code into the module numbers at positions 0..4. Answers false, and
/// leaves `order` alone, for values outside 12345..54321 (NaN included) and for codes whose
/// digits are not a permutation of 1..5.
bool decodeOrderCode(double code, std::array<int32_t, 5>& order);
/// 11111 + sum of order[i] * 10^(4 - i).
double encodeOrderCode(const int32_t* order);

} // namespace pellucer
