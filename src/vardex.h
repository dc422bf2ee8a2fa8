// The whole run of vardex: switches, opening lines, the record loop and the
// closing list. Returns the process exit status, which is always 1.
#pragma once

int run_vardex(int argc, char** argv);
