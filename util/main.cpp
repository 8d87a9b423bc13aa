#include "util/Program.h"

int main(int argc, char** argv) { return VelmarUtilMain(argc, argv); }
