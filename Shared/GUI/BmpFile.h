#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::gui {

/// Windows BMP files read into and written from pixel buffers, without the platform's image
/// loader: the skin generator and the gallery run on Linux, and the tests check the shipped
/// images everywhere.
///
/// Read: uncompressed 24-bit and 32-bit images (BI_RGB, or BI_BITFIELDS with the usual
/// 8-8-8 masks), bottom-up or top-down, with a 40-byte or longer info header. 24-bit pixels get
/// alpha 255; 32-bit pixels keep the alpha byte of the file. Anything else - other depths,
/// compression, a header field out of range, a file shorter than its pixels - is refused with a
/// false answer and leaves the target empty.
/// Write: bottom-up BI_RGB, 24-bit (rows padded to 4 bytes, alpha dropped) or 32-bit (BGRA).

/// Largest image the reader accepts, in pixels per side: a skin strip of 127 knob frames is a
/// few thousand rows; anything far beyond is a damaged header.
inline constexpr int32_t kBmpMaxWidth = 16384;
inline constexpr int32_t kBmpMaxHeight = 65536;

/// Offset of the bits-per-pixel field (16-bit little-endian) in a BMP file: the 14-byte file
/// header plus 14 bytes into the info header.
inline constexpr size_t kBmpBitsPerPixelOffset = 28;

/// Decodes a whole BMP file held in memory into `image`. False (and `image` empty) when the
/// bytes are not a BMP this reader takes.
bool decodeBmp(const uint8_t* bytes, size_t size, PixelBuffer& image);
/// Reads and decodes the BMP file at `path`.
bool readBmp(const std::filesystem::path& path, PixelBuffer& image);

/// The BMP file bytes of `image` at 24 or 32 bits per pixel; empty for an empty image or another
/// depth.
std::vector<uint8_t> encodeBmp(const PixelBuffer& image, int32_t bitsPerPixel = 24);
/// Writes `image` as a BMP file at `path`; false when it cannot be encoded or written.
bool writeBmp(const std::filesystem::path& path, const PixelBuffer& image, int32_t bitsPerPixel = 24);

/// The bits-per-pixel field of a BMP file (byte 28), as the skin's bitmap loader reads it to
/// decide whether an image has alpha (32). Answers -1 when the file cannot be read that far.
int32_t bmpBitsPerPixel(const std::filesystem::path& path);

} // namespace pellucer::gui
