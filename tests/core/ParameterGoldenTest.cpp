// Every parameter as hosts, the editor and the renderer see it, over a grid of values: the value
// read back after setting it, the unit label, the host's value text, the editor's readout, and
// the normalised value each typed-value parser finds for what is shown. The expected table was
// written by this same test from the code before the parameter model was rewritten; any change
// in one of these columns is a change users would notice (a saved song reading back another
// value, a host showing another text).
//
// To write the table anew (only when a change of behaviour is intended):
//   PELLUCER_WRITE_PARAMETER_TABLE=1 build/linux/tests/pellucer_tests --gtest_filter='ParameterGolden.*'

// Native builds only: the renderer's parser is part of the native tools.
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

std::string utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
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
                     << '\t' << display << '\t' << utf8(readoutText(index, back, synced, notes)) << '\t'
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
    if (!textResources().contains("IDS_GENERIC_ON")) {
        ASSERT_EQ(textResources().load(PELLUCER_SOURCE_DIR "/skin/TextResources.tsres"), SkinTable::kSuccess);
    }
    const std::vector<std::string> now = currentTable();
    if (std::getenv("PELLUCER_WRITE_PARAMETER_TABLE") != nullptr) {
        std::ofstream out(kTablePath);
        for (const std::string& line : now)
            out << line << '\n';
        GTEST_SKIP() << "wrote " << kTablePath;
    }
    std::ifstream in(kTablePath);
    ASSERT_TRUE(in) << kTablePath;
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line);)
        expected.push_back(line);
    ASSERT_EQ(now.size(), expected.size());
    int differences = 0;
    for (size_t i = 0; i < now.size() && differences < 20; ++i) {
        if (now[i] != expected[i]) {
            ADD_FAILURE() << "expected " << expected[i] << "\n     got " << now[i];
            ++differences;
        }
    }
}

#endif // PELLUCER_RENDER_TOOL
