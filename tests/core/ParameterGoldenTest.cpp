// Every parameter as hosts, the editor and the renderer see it, over a grid of values: the value
// read back, the unit label, the host's value text, the editor's readout, and the normalised value
// each typed-value parser finds for what is shown, against a table written before the parameter
// model was rewritten. A change in any column is one users would notice. To write the table anew
// (only for an intended change): PELLUCER_WRITE_PARAMETER_TABLE=1 pellucer_tests --gtest_filter='ParameterGolden.*'
// Native builds only: the renderer's parser is built with the native tools alone.
#if defined(PELLUCER_RENDER_TOOL)

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GUI/ValueText.h"
#include "core/SkinTable.h"
#include "core/ChannelStripEffect.h"
#include "tools/render/ValueParser.h"

using namespace pellucer;

namespace {

const char* const kTablePath = PELLUCER_SOURCE_DIR "/tests/data/parameters.tsv";

std::string hexFloat(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

// The grid: every fortieth of the range, the switches' edges and the ends' neighbours.
std::vector<float> grid() {
    std::vector<float> values;
    for (int k = 0; k <= 40; ++k)
        values.push_back(static_cast<float>(k) / 40.0f);
    for (float v : {0.001f, 0.0625f, 0.3333f, 0.4999f, 0.5001f, 0.6667f, 0.999f})
        values.push_back(v);
    return values;
}

// One line per (parameter, synced, value).
std::vector<std::string> currentTable() {
    const render::UnitWords words = render::UnitWords::fromSkin();
    const DelayNoteNames notes = lookUpDelayNoteNames();
    std::vector<std::string> lines;
    for (bool synced : {false, true}) {
        for (int32_t index = 0; index < kReserved; ++index) {
            if (synced && index != kDelayTime)
                continue;
            ChannelStripEffect effect(nullptr);
            effect.setParameter(kDelaySyncEnable, synced ? 1.0f : 0.0f);
            for (float v : grid()) {
                effect.setParameter(index, v);
                const float back = effect.getParameter(index);
                char label[64] = {}, display[64] = {};
                effect.getParameterLabel(index, label);
                effect.getParameterDisplay(index, display);
                const std::string shown = std::string(display) + label;
                const render::ParsedValue parsed = render::parseParameterValue(index, shown, synced, words);
                const float typed = normalisedFromNumber(index, readoutNumber(index, back, synced), synced);
                std::ostringstream line;
                line << index << '\t' << synced << '\t' << hexFloat(v) << '\t' << hexFloat(back) << '\t' << label
                     << '\t' << display << '\t' << render::utf8(readoutText(index, back, synced, notes)) << '\t'
                     << (parsed.ok() ? hexFloat(parsed.value) : "refused") << '\t' << hexFloat(typed);
                lines.push_back(line.str());
            }
        }
    }
    // The order code, and the editor's page slot and page selectors.
    for (float code : {12345.0f, 54321.0f, 23415.0f, 11111.0f, 12344.0f, 60000.0f, 0.5f}) {
        ChannelStripEffect effect(nullptr);
        effect.setParameter(kReserved, code);
        const render::ParsedValue parsed =
            render::parseParameterValue(kReserved, std::to_string(static_cast<int>(code)), false, words);
        lines.push_back("38\t0\t" + hexFloat(code) + '\t' + hexFloat(effect.getParameter(kReserved)) + '\t' +
                        (parsed.ok() ? hexFloat(parsed.value) : "refused"));
    }
    for (int32_t index = kPageSlotIndex; index <= kLastEngineIndex; ++index) {
        ChannelStripEffect effect(nullptr);
        for (float v : grid()) {
            effect.setParameter(index, v);
            lines.push_back(std::to_string(index) + "\t0\t" + hexFloat(v) + '\t' + hexFloat(effect.getParameter(index)) +
                            '\t' + std::to_string(effect.pageSlot()));
        }
    }
    return lines;
}

} // namespace

TEST(ParameterGolden, EveryParameterReadsShowsAndParsesAsBefore) {
    const ChannelStripEffect first(nullptr); // the first engine reads the skin beside the program
    ASSERT_TRUE(textResources().contains("IDS_GENERIC_ON"));
    const std::vector<std::string> now = currentTable();
    if (std::getenv("PELLUCER_WRITE_PARAMETER_TABLE") != nullptr) {
        for (std::ofstream out(kTablePath); const std::string& line : now)
            out << line << '\n';
        FAIL() << "wrote " << kTablePath << "; run again without PELLUCER_WRITE_PARAMETER_TABLE";
    }
    std::ifstream in(kTablePath);
    ASSERT_TRUE(in) << kTablePath;
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line);)
        expected.push_back(line);
    ASSERT_EQ(now.size(), expected.size());
    for (size_t i = 0, differences = 0; i < now.size() && differences < 20; ++i)
        if (now[i] != expected[i] && ++differences)
            ADD_FAILURE() << "expected " << expected[i] << "\n     got " << now[i];
}

#endif // PELLUCER_RENDER_TOOL
