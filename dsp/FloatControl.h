#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace pellucer {

/// The floating-point mode of the audio path, for the scope of one process call: round to
/// nearest, every exception masked, flush-to-zero and denormals-are-zero.
///
/// A tail that decays toward silence passes through sub-normal numbers, and every SSE operation
/// on one costs a micro-code assist (a hundred cycles or more): a loud burst followed by digital
/// silence would then cost several times the burst. With FTZ (results) and DAZ (operands) such
/// values are zero instead. The stages keep their own guards as well (the anti-denormal noise,
/// the delay's offset), so that nothing depends on the flags being honoured. Setting the whole
/// register rather than adding the two bits also keeps a host's rounding mode or unmasked
/// exceptions out of the arithmetic: the same input gives the same bits under any host.
///
/// The host's MXCSR (with its sticky exception flags) is restored when the scope ends: its own
/// code, and any other plug-in on the same thread, must see the settings it chose. All three
/// targets do their floating point in SSE2 (win32 with -mfpmath=sse), so the same mode reaches
/// every operation on every platform.
class AudioFloatMode {
public:
#if defined(__SSE2__)
    static constexpr uint32_t kExceptionsMasked = 0x1F80; ///< bits 7-12, round to nearest
    static constexpr uint32_t kDenormalsAreZero = 0x0040; ///< bit 6 (DAZ)
    static constexpr uint32_t kFlushToZero = 0x8000;      ///< bit 15 (FTZ)
    static constexpr uint32_t kAudio = kExceptionsMasked | kDenormalsAreZero | kFlushToZero;

    AudioFloatMode() : host_(_mm_getcsr()) { _mm_setcsr(kAudio & supportedBits()); }
    ~AudioFloatMode() { _mm_setcsr(host_); }
#else
    AudioFloatMode() = default;
#endif
    AudioFloatMode(const AudioFloatMode&) = delete;
    AudioFloatMode& operator=(const AudioFloatMode&) = delete;

private:
#if defined(__SSE2__)
    // The MXCSR bits this processor accepts. Every x86-64 processor has DAZ; the first SSE2
    // processors do not, and setting it there faults, so the 32-bit build asks FXSAVE's mask once.
    static uint32_t supportedBits() {
#if defined(__i386__)
        static const uint32_t bits = [] {
            alignas(16) unsigned char area[512] = {};
            __asm__ volatile("fxsave %0" : "=m"(area));
            uint32_t mask = 0;
            std::memcpy(&mask, area + 28, sizeof mask);
            return mask != 0 ? mask : 0xFFBFu; // a zero mask means the default: all but DAZ
        }();
        return bits;
#else
        return 0xFFFFu;
#endif
    }

    uint32_t host_;
#endif
};

} // namespace pellucer
