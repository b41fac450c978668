// pellucer-screenshots MODULE.dll OUTPUT_DIR
//
// A small VST host for Windows that opens the plug-in's editor in a window of its own, plays a
// sung vowel through the effect in real time so that the meters, glows and reduction bars move,
// clicks through the five pages and writes one 24-bit BMP per page (page-1-de-esser.bmp …) and
// one with the About image (about.bmp) into OUTPUT_DIR. `make screenshots` runs it under Wine
// and Xvfb and turns the pictures into the PNGs of docs/screenshots/.
//
// It drives the module only as a host does: VSTPluginMain, the effect record, the dispatcher.

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vst/VstAbi.h"

namespace {

using namespace vst;

constexpr double kSampleRate = 44100.0;
constexpr int32_t kBlockFrames = 441; // 10 ms
constexpr double kTempo = 96.0;

// -- the host side ---------------------------------------------------------------------------

VstTimeInfo timeInfo{};

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&timeInfo);
    case audioMasterGetSampleRate: return static_cast<VstIntPtr>(kSampleRate);
    case audioMasterGetBlockSize: return kBlockFrames;
    default: return 0;
    }
}

// -- a sung vowel ----------------------------------------------------------------------------

/// An "ah" sung on a short phrase: a harmonic voice through three vowel formants, with vibrato,
/// breath noise, an "s" before some notes (for the de-esser) and gaps between the notes (for the
/// expander and the echoes).
class SungVowel {
public:
    float next() {
        const double t = static_cast<double>(frame_++) / kSampleRate;
        const double noteLength = 0.8, gap = 0.25, period = noteLength + gap;
        const int note = static_cast<int>(t / period);
        const double inNote = t - note * period;
        static constexpr std::array<double, 6> kPhrase = {220.0, 246.94, 261.63, 293.66, 261.63, 196.0};
        const double f0 = kPhrase[static_cast<size_t>(note) % kPhrase.size()];

        // Amplitude: a soft attack, a swell, a release; silence in the gap.
        double envelope = 0.0;
        if (inNote < noteLength) {
            const double attack = std::min(1.0, inNote / 0.06);
            const double release = std::min(1.0, (noteLength - inNote) / 0.12);
            envelope = attack * release * (0.75 + 0.25 * std::sin(std::numbers::pi * inNote / noteLength));
        }
        const double vibrato = 1.0 + 0.012 * std::sin(2.0 * std::numbers::pi * 5.6 * t) * std::min(1.0, inNote / 0.3);
        phase_ += f0 * vibrato / kSampleRate;
        phase_ -= std::floor(phase_);

        double voice = 0.0;
        for (int k = 1; k <= 36; ++k) {
            const double f = k * f0;
            if (f > 9000.0)
                break;
            voice += formantGain(f) * std::sin(2.0 * std::numbers::pi * k * phase_) / std::sqrt(static_cast<double>(k));
        }
        const double breath = 0.02 * noise();
        // An "s" (bright noise) just before every other note.
        double sibilance = 0.0;
        const double beforeNext = period - inNote;
        if (note % 2 == 1 && beforeNext < 0.12) {
            highPassed_ = 0.3 * highPassed_ + noise() - lastNoise_;
            lastNoise_ = noise();
            sibilance = 0.22 * highPassed_ * std::sin(std::numbers::pi * (0.12 - beforeNext) / 0.12);
        }
        return static_cast<float>(0.32 * envelope * (voice + breath) + sibilance);
    }

private:
    static double formantGain(double f) {
        // "ah": formants near 700, 1220 and 2600 Hz.
        static constexpr std::array<std::array<double, 3>, 3> kFormants = {
            {{700.0, 130.0, 1.0}, {1220.0, 140.0, 0.5}, {2600.0, 200.0, 0.25}}};
        double g = 0.04;
        for (const auto& formant : kFormants) {
            const double x = (f - formant[0]) / formant[1];
            g += formant[2] / (1.0 + x * x);
        }
        return g;
    }
    double noise() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
    }

    int64_t frame_ = 0;
    double phase_ = 0.0;
    uint32_t state_ = 12345u;
    double highPassed_ = 0.0;
    double lastNoise_ = 0.0;
};

// -- capture -----------------------------------------------------------------------------------

bool writeBmp(const std::string& path, HWND window) {
    RECT r;
    GetClientRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    const int rowBytes = (w * 3 + 3) & ~3;
    const uint32_t imageBytes = static_cast<uint32_t>(rowBytes) * static_cast<uint32_t>(h);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageBytes;
    info.bmiHeader.biSizeImage = imageBytes;
    bool ok = false;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, 1, imageBytes, out) == imageBytes;
        ok = std::fclose(out) == 0 && ok;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return ok;
}

// -- the session ---------------------------------------------------------------------------------

struct Session {
    AEffect* effect = nullptr;
    HWND window = nullptr; ///< the host's window
    HWND editor = nullptr; ///< the editor's child window
    SungVowel voice;
    std::vector<float> left = std::vector<float>(kBlockFrames), right = std::vector<float>(kBlockFrames);
    std::vector<float> outLeft = std::vector<float>(kBlockFrames), outRight = std::vector<float>(kBlockFrames);

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return effect->dispatcher(effect, opcode, index, value, ptr, opt);
    }

    /// Plays `seconds` of the voice in real time, keeping the windows alive.
    void play(double seconds) {
        const int blocks = static_cast<int>(seconds * kSampleRate / kBlockFrames);
        const DWORD start = GetTickCount();
        for (int b = 0; b < blocks; ++b) {
            for (int i = 0; i < kBlockFrames; ++i)
                left[static_cast<size_t>(i)] = right[static_cast<size_t>(i)] = voice.next();
            float* in[2] = {left.data(), right.data()};
            float* out[2] = {outLeft.data(), outRight.data()};
            timeInfo.flags = kVstTransportPlaying | kVstTempoValid;
            effect->processReplacing(effect, in, out, kBlockFrames);
            timeInfo.samplePos += kBlockFrames;
            dispatch(effEditIdle);
            pump();
            // Keep pace with the clock so that the meters' timers see the audio as it plays.
            const DWORD due = start + static_cast<DWORD>((b + 1) * 1000.0 * kBlockFrames / kSampleRate);
            const DWORD now = GetTickCount();
            if (due > now)
                Sleep(due - now);
        }
    }

    static void pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    /// A left click at (x, y) of the editor, as the mouse would make it.
    void click(int x, int y) {
        const LPARAM at = MAKELPARAM(x, y);
        PostMessageW(editor, WM_MOUSEMOVE, 0, at);
        PostMessageW(editor, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(editor, WM_LBUTTONUP, 0, at);
        pump();
    }
};

/// Picks the first entry of the editor's context menu (About) once it is up.
DWORD WINAPI chooseAbout(void*) {
    for (int i = 0; i < 200; ++i) {
        Sleep(20);
        if (HWND menu = FindWindowW(L"#32768", nullptr)) {
            PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
            PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
            return 0;
        }
    }
    return 1;
}

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pellucer-screenshots MODULE.dll OUTPUT_DIR\n");
        return 2;
    }
    const std::string output = argv[2];
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::fprintf(stderr, "pellucer-screenshots: cannot load %s\n", argv[1]);
        return 1;
    }
    using Entry = AEffect* (*)(audioMasterCallback);
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
    Session session;
    session.effect = entry != nullptr ? entry(hostCallback) : nullptr;
    if (session.effect == nullptr || session.effect->magic != kEffectMagic) {
        std::fprintf(stderr, "pellucer-screenshots: %s gave no effect\n", argv[1]);
        return 1;
    }
    timeInfo.sampleRate = kSampleRate;
    timeInfo.tempo = kTempo;
    timeInfo.timeSigNumerator = timeInfo.timeSigDenominator = 4;
    session.dispatch(effOpen);
    session.dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(kSampleRate));
    session.dispatch(effSetBlockSize, 0, kBlockFrames);
    session.dispatch(effMainsChanged, 0, 1);

    // A program with every stage on, and the tubes lit, so that every page has something to show.
    char name[64] = {};
    for (VstInt32 p = 0; p < session.effect->numPrograms; ++p) {
        session.dispatch(effSetProgram, 0, p);
        session.dispatch(effGetProgramName, 0, 0, name);
        if (std::string(name) == "Female Quartet")
            break;
    }
    const std::array<std::pair<int, float>, 8> tubes = {
        {{1, 1.0f}, {3, 0.55f}, {11, 0.6f}, {13, 1.0f}, {35, 1.0f}, {37, 0.4f}, {12, 1.0f}, {14, 0.0f}}};
    for (const auto& [index, value] : tubes)
        session.effect->setParameter(session.effect, index, value);

    ERect* rect = nullptr;
    if (session.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr) {
        std::fprintf(stderr, "pellucer-screenshots: the effect has no editor\n");
        return 1;
    }
    const int width = rect->right - rect->left, height = rect->bottom - rect->top;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = hostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PellucerScreenshotHost";
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // the arrow;
    RegisterClassW(&windowClass);
    session.window = CreateWindowExW(0, windowClass.lpszClassName, L"Pellucer", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                     height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (session.window == nullptr || session.dispatch(effEditOpen, 0, 0, session.window) == 0) {
        std::fprintf(stderr, "pellucer-screenshots: the editor did not open\n");
        return 1;
    }
    session.editor = GetWindow(session.window, GW_CHILD);
    if (session.editor == nullptr)
        session.editor = session.window;
    SetForegroundWindow(session.window);
    session.play(2.0);

    // The tabs, in page order, and the file each page goes to.
    // With each page, one of its knobs is touched (pressed and released without moving) so
    // that the name and value windows show what a user would see.
    struct Page {
        int x, y;         ///< the tab
        int knobX, knobY; ///< a knob of the page
        const char* file;
    };
    static constexpr std::array<Page, 5> kPages = {{{531, 92, 82, 143, "page-1-de-esser.bmp"},
                                                    {582, 92, 250, 77, "page-2-compander.bmp"},
                                                    {638, 92, 416, 143, "page-3-equaliser.bmp"},
                                                    {692, 92, 135, 269, "page-4-doubler.bmp"},
                                                    {735, 92, 222, 269, "page-5-delay.bmp"}}};
    int failures = 0;
    for (const Page& page : kPages) {
        session.click(page.x, page.y);
        session.click(page.knobX, page.knobY);
        session.play(2.2);
        if (!writeBmp(output + "/" + page.file, session.editor)) {
            std::fprintf(stderr, "pellucer-screenshots: could not write %s\n", page.file);
            ++failures;
        }
    }

    // The About image: the context menu on the background (the product name plate).
    HANDLE chooser = CreateThread(nullptr, 0, chooseAbout, nullptr, 0, nullptr);
    const LPARAM plate = MAKELPARAM(640, 28);
    PostMessageW(session.editor, WM_RBUTTONDOWN, MK_RBUTTON, plate);
    PostMessageW(session.editor, WM_RBUTTONUP, 0, plate);
    session.play(1.0);
    WaitForSingleObject(chooser, 5000);
    CloseHandle(chooser);
    session.play(0.5);
    if (!writeBmp(output + "/about.bmp", session.editor)) {
        std::fprintf(stderr, "pellucer-screenshots: could not write about.bmp\n");
        ++failures;
    }

    session.dispatch(effEditClose);
    DestroyWindow(session.window);
    session.dispatch(effMainsChanged, 0, 0);
    session.dispatch(effClose);
    FreeLibrary(module);
    return failures == 0 ? 0 : 1;
}
