#pragma once

#include <filesystem>

namespace pellucer::skin {

/// Draws every image of the skin and writes the BMP files and "GraphicsResources.tsres" into
/// `folder` (created when missing). Answers false, with a message on stderr, when a font is
/// missing or a file cannot be written.
bool generateSkin(const std::filesystem::path& folder);

/// The command line tool: `pellucer-skin OUTPUT_DIR`.
int runSkinTool(int argc, char** argv);

} // namespace pellucer::skin
