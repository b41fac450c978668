#include "tools/render/RenderTool.h"

int main(int argc, char** argv) { return pellucer::render::runRenderTool(argc, argv); }
