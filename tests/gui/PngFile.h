#pragma once

// A small PNG writer for the pictures tests leave behind (screenshots of windows under Wine):
// 8-bit RGB, rows unfiltered, the image data in stored (uncompressed) deflate blocks.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "Shared/GUI/PixelBuffer.h"

namespace pellucer::gui::test {

uint32_t pngCrc32(std::span<const uint8_t> bytes); ///< as PNG chunks end with it
uint32_t adler32(std::span<const uint8_t> bytes);  ///< as the zlib stream inside a PNG ends with it
/// The whole PNG file of `image` (alpha dropped); empty for an empty image.
std::vector<uint8_t> encodePng(const PixelBuffer& image);
/// Writes encodePng(image) to `path`; false when the image is empty or the file cannot be written.
bool writePng(const std::filesystem::path& path, const PixelBuffer& image);

} // namespace pellucer::gui::test
