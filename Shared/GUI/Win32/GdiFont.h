#pragma once

// Creation of the GDI font behind a Font; declared without the Windows headers so that the
// portable Font.cpp can call it in Windows builds.

namespace pellucer::gui {

class Font;

/// The HFONT for `font` at the screen's pixels per inch; null when GDI refuses.
void* createGdiFont(const Font& font);
/// Deletes a font made by createGdiFont.
void deleteGdiFont(void* handle);

} // namespace pellucer::gui
