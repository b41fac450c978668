#include "tools/skin/SkinGenerator.h"

int main(int argc, char** argv) { return pellucer::skin::runSkinTool(argc, argv); }
