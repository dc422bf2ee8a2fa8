// How a run ends. The program ends the process; an in-process harness (the
// fuzz build) returns to its caller instead.
#pragma once

[[noreturn]] void end_run(int status);
