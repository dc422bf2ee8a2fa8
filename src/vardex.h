// The whole run of vardex: switches, opening lines, the record loop and the
// closing list. Returns the process exit status, which is always 1 (output
// that cannot be written ends the process with status 2 instead).
#pragma once

int run_vardex(int argc, char** argv);
