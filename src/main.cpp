#include "vardex.h"

int main(int argc, char** argv) { return run_vardex(argc, argv); }
