#pragma once

namespace pellucer::render {

/// pellucer-render's whole run: parses the command line, sets the strip up, renders and prints
/// the summary. Answers the exit status: 0 done, 1 a file or the render failed, 2 a wrong command
/// line (unknown option, program or parameter, a value out of range).
int runRenderTool(int argc, char** argv);

} // namespace pellucer::render
