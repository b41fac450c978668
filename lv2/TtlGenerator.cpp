// pellucer-lv2-ttl BUNDLE_DIR BINARY: writes the bundle's descriptions from the parameter table
// and the factory bank: manifest.ttl (the plug-in and its presets), pellucer.ttl (ports, units,
// ranges, defaults, the state and time it takes) and presets.ttl (the factory programs as port
// values). Every preset value is checked to come back through the plug-in's own conversion as
// the program's normalised value; a value that does not fails the build.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core/FactoryPrograms.h"
#include "core/ParameterDisplay.h"
#include "core/ParameterTable.h"
#include "lv2/PortTable.h"

namespace {

using namespace pellucer;
using namespace pellucer::lv2;

/// Largest difference a preset's port value may leave in a normalised value (where the float
/// steps of the port do not reach the program's value exactly).
constexpr float kPresetTolerance = 1e-6f;
constexpr float kLatencyMaximumFrames = 768.0f; // 1 ms at the highest rate the engine takes

const char* kPrefixes = "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
                        "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                        "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                        "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
                        "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                        "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                        "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                        "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                        "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
                        "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
                        "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

// A Turtle decimal that reads back as the same float.
std::string number(float x) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(x));
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

std::string quoted(const std::string& text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + "\"";
}

std::string presetUri(int32_t program) {
    char text[64];
    std::snprintf(text, sizeof(text), "<%s:preset:%02d>", kPluginUri, program);
    return text;
}

std::string hostName(int32_t index) {
    char name[kNameChars + 1];
    parameterNameText(index, name);
    return name;
}

// The unit a port is read in: one of the units extension's, or a ratio of our own.
std::string unitOf(Unit unit) {
    switch (unit) {
    case Unit::Db:
        return "units:db";
    case Unit::Percent:
        return "units:pc";
    case Unit::Ms:
        return "units:ms";
    case Unit::Hz:
        return "units:hz";
    case Unit::ToOne:
        return "[ a units:Unit ; rdfs:label \"ratio\" ; units:symbol \":1\" ; units:render \"%.1f:1\" ]";
    case Unit::OneTo:
        return "[ a units:Unit ; rdfs:label \"ratio\" ; units:symbol \"1:\" ; units:render \"1:%.1f\" ]";
    case Unit::None:
        break;
    }
    return "";
}

bool logarithmic(const Mapping& m) {
    return m.curve == Curve::Decade || m.curve == Curve::RoundedDecade || m.curve == Curve::Power;
}

// A stage's name as its enable switch names it ("DeEsser Enable" -> "DeEsser").
std::string moduleName(int32_t module) {
    constexpr std::array<int32_t, 5> kEnables = {kDeEsserEnable, kCompanderEnable, kEqEnable, kDoublerEnable,
                                                 kDelayEnable};
    std::string name = paramName(kEnables[static_cast<size_t>(module)]);
    return name.substr(0, name.rfind(' '));
}

// The 120 module orders as scale points, labelled with their code and the stages in order.
std::string orderScalePoints() {
    std::array<int32_t, 5> order = {0, 1, 2, 3, 4};
    std::ostringstream out;
    const char* separator = "";
    do {
        const auto code = static_cast<int32_t>(encodeOrderCode(order.data()));
        std::string label = std::to_string(code) + ":";
        for (int32_t module : order)
            label += " " + moduleName(module);
        out << separator << "[ rdfs:label " << quoted(label) << " ; rdf:value " << code << " ]";
        separator = " ,\n            ";
    } while (std::next_permutation(order.begin(), order.end()));
    return out.str();
}

void controlPortText(std::ostream& out, int32_t index) {
    const ParamDescriptor& p = kParameters[static_cast<size_t>(index)];
    const ControlPortInfo port = controlPort(index);
    const float initial = portFromNormalised(index, kFullResetValues[static_cast<size_t>(index)]);
    out << "    lv2:port [\n        a lv2:InputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << kFirstControl + static_cast<uint32_t>(index) << " ;\n"
        << "        lv2:symbol " << quoted(portSymbol(index)) << " ;\n"
        << "        lv2:name " << quoted(hostName(index)) << " ;\n";
    if (port.kind == PortKind::ModuleOrder) {
        out << "        lv2:default " << static_cast<int32_t>(initial) << " ;\n"
            << "        lv2:minimum " << static_cast<int32_t>(port.minimum) << " ;\n"
            << "        lv2:maximum " << static_cast<int32_t>(port.maximum) << " ;\n"
            << "        rdfs:comment \"The module order: the five stages' places, first place first "
               "(1 DeEsser, 2 Compander, 3 EQ, 4 Doubler, 5 Delay).\" ;\n"
            << "        lv2:portProperty lv2:integer , lv2:enumeration ;\n"
            << "        lv2:scalePoint " << orderScalePoints() << "\n    ]";
        return;
    }
    out << "        lv2:default " << number(initial) << " ;\n"
        << "        lv2:minimum " << number(port.minimum) << " ;\n"
        << "        lv2:maximum " << number(port.maximum);
    if (port.kind == PortKind::Toggle) {
        out << " ;\n        lv2:portProperty lv2:toggled";
    } else {
        if (const std::string unit = unitOf(p.unit); !unit.empty())
            out << " ;\n        units:unit " << unit;
        if (logarithmic(p.shown))
            out << " ;\n        lv2:portProperty pprops:logarithmic";
        if (std::isinf(p.range.minimum))
            out << " ;\n        lv2:scalePoint [ rdfs:label \"-inf\" ; rdf:value " << number(port.minimum)
                << " ]";
        if (p.text == Text::Ratio)
            out << " ;\n        lv2:scalePoint [ rdfs:label \"inf\" ; rdf:value " << number(port.maximum)
                << " ]";
    }
    out << "\n    ]";
}

void outputPortText(std::ostream& out, uint32_t index, const char* symbol, const char* name, float minimum,
                    float maximum) {
    out << "    lv2:port [\n        a lv2:OutputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << index << " ;\n        lv2:symbol " << quoted(symbol) << " ;\n"
        << "        lv2:name " << quoted(name) << " ;\n        lv2:minimum " << number(minimum) << " ;\n"
        << "        lv2:maximum " << number(maximum) << " ;\n        units:unit units:db\n    ]";
}

std::string pluginText() {
    std::ostringstream out;
    out << kPrefixes << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:DynamicsPlugin ;\n"
        << "    doap:name \"Pellucer\" ;\n"
        << "    lv2:minorVersion 1 ;\n    lv2:microVersion 0 ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map ;\n"
        << "    lv2:extensionData state:interface ;\n";
    const char* audio[] = {"InputPort",  "in_left",  "Left In",  "InputPort",  "in_right",  "Right In",
                           "OutputPort", "out_left", "Left Out", "OutputPort", "out_right", "Right Out"};
    for (uint32_t i = 0; i < 4; ++i)
        out << "    lv2:port [\n        a lv2:" << audio[3 * i] << " , lv2:AudioPort ;\n"
            << "        lv2:index " << i << " ;\n        lv2:symbol " << quoted(audio[3 * i + 1]) << " ;\n"
            << "        lv2:name " << quoted(audio[3 * i + 2]) << "\n    ] ;\n";
    out << "    lv2:port [\n        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n        atom:supports time:Position ;\n"
        << "        lv2:designation lv2:control ;\n"
        << "        lv2:portProperty lv2:connectionOptional ;\n"
        << "        lv2:index " << kTimeInput << " ;\n        lv2:symbol \"time\" ;\n"
        << "        lv2:name \"Host Time\"\n    ] ;\n";
    for (int32_t i = 0; i < kNumParams; ++i) {
        controlPortText(out, i);
        out << " ;\n";
    }
    const char* meters[][2] = {
        {"level_in_left", "Input Level Left"},   {"level_in_right", "Input Level Right"},
        {"level_out_left", "Output Level Left"}, {"level_out_right", "Output Level Right"},
        {"compressor_gain", "Compressor Gain"},  {"expander_gain", "Expander Gain"},
        {"deesser_gain", "DeEsser Gain"}};
    for (uint32_t m = 0; m < std::size(meters); ++m) {
        const bool level = kFirstMeter + m < kMeterCompressor;
        outputPortText(out, kFirstMeter + m, meters[m][0], meters[m][1], kMeterFloorDb,
                       level ? kMeterCeilingDb : 0.0f);
        out << " ;\n";
    }
    out << "    lv2:port [\n        a lv2:OutputPort , lv2:ControlPort ;\n"
        << "        lv2:index " << kLatencyPort << " ;\n        lv2:symbol \"latency\" ;\n"
        << "        lv2:name \"Latency\" ;\n        lv2:designation lv2:latency ;\n"
        << "        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
        << "        lv2:minimum 0 ;\n        lv2:maximum " << static_cast<int32_t>(kLatencyMaximumFrames)
        << " ;\n"
        << "        units:unit units:frame\n    ] .\n";
    return out.str();
}

// The factory programs as presets; false when a value does not come back through the port.
bool presetsText(std::string& text) {
    std::ostringstream out;
    out << kPrefixes;
    bool exact = true;
    const auto& bank = factoryPrograms();
    for (int32_t n = 0; n < kNumFactoryPrograms; ++n) {
        const FactoryProgram& program = bank[static_cast<size_t>(n)];
        out << presetUri(n) << "\n    a pset:Preset ;\n    lv2:appliesTo <" << kPluginUri << "> ;\n"
            << "    rdfs:label " << quoted(program.name);
        for (int32_t i = 0; i < kNumParams; ++i) {
            const float v = program.values[static_cast<size_t>(i)];
            const float u = portFromNormalised(i, v);
            if (!(std::fabs(normalisedFromPort(i, u) - v) <= kPresetTolerance)) {
                std::fprintf(stderr, "pellucer-lv2-ttl: \"%s\": %s = %.9g does not give %.9g back (%.9g)\n",
                             program.name, paramName(i), static_cast<double>(u), static_cast<double>(v),
                             static_cast<double>(normalisedFromPort(i, u)));
                exact = false;
            }
            out << " ;\n    lv2:port [ lv2:symbol " << quoted(portSymbol(i)) << " ; pset:value "
                << (controlPort(i).kind == PortKind::ModuleOrder
                        ? std::to_string(static_cast<int32_t>(u)) + ".0"
                        : number(u))
                << " ]";
        }
        out << " .\n\n";
    }
    text = out.str();
    return exact;
}

std::string manifestText(const std::string& binary) {
    std::ostringstream out;
    out << kPrefixes << "<" << kPluginUri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << binary << "> ;\n"
        << "    rdfs:seeAlso <pellucer.ttl> .\n";
    for (int32_t n = 0; n < kNumFactoryPrograms; ++n)
        out << "\n"
            << presetUri(n) << "\n    a pset:Preset ;\n    lv2:appliesTo <" << kPluginUri << "> ;\n"
            << "    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

bool write(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::fprintf(stderr, "pellucer-lv2-ttl: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: pellucer-lv2-ttl BUNDLE_DIR BINARY\n", stderr);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    std::string presets;
    const bool exact = presetsText(presets);
    const bool written = write(folder + "manifest.ttl", manifestText(argv[2])) &&
                         write(folder + "pellucer.ttl", pluginText()) &&
                         write(folder + "presets.ttl", presets);
    return exact && written ? 0 : 1;
}
