#!/usr/bin/env python3
"""Copy a text and add the source position to every code address in it.

    symbolize.py [--vardex PATH] DEBUGFILE [FILE ...]

Copies each FILE (standard input when there is none, or for "-") to standard
output, and after every code address it finds, hexadecimal after "0x" or "$"
as an interpreter's error report or a profiler writes them, adds where the
code comes from:

    error in the call at 0x349: value out of range
    error in the call at 0x349 (games/lantern/lantern.src:22:5 in Initialise): value out of range

An address that is in no routine stays as it is. One vardex runs beside the
script for the whole text (`vardex -lookup DEBUGFILE`, which reads lookups
from standard input): each new address is one lookup, written as soon as the
line holding it is read, and each answer is kept for the next time the
address comes up. Lines from standard input are written out one by one, so
the script can sit at the end of a running interpreter's pipe.

The vardex program is found as load_objects.py (which must stand beside this
script) finds it.

Exit status: 0 when every text is copied; 1 when vardex could not be run or
reported an error (the message goes to standard error), when a FILE could not
be read (the others are still copied), or when the text could not be written
(quietly when standard output is a closed pipe); 2 for a usage error.
"""

import argparse
import re
import subprocess
import sys
from pathlib import Path

from load_objects import VardexError, debug_file_argument, discard_standard_output, find_vardex, one_line

# A code address: "0x" or "$" and up to eight hexadecimal digits, not part of
# a longer word or number.
ADDRESS = re.compile(rb"(?<![0-9A-Za-z_$])(?:0x|\$)([0-9A-Fa-f]{1,8})(?![0-9A-Za-z_])")

# vardex's text answer to an address in a routine:
# PATH:LINE:CHAR: 0xADDR is in routine NAME (NUMBER), N bytes in
IN_ROUTINE = re.compile(rb"(?P<position>.+:\d+:\d+): 0x[0-9a-f]+ is in routine (?P<routine>.*) \(\d+\), \d+ bytes in")

FATAL_PREFIX = b"Fatal error: "
# Addresses are 24 bits; a larger number is no code address.
LARGEST_ADDRESS = 0xFFFFFF


class Symbolizer:
    """A `vardex -lookup` co-process and the answers it has given.

    Each lookup is one line on vardex's standard input; vardex answers it
    with its lines and then an empty line, and flushes, before it reads the
    next one.
    """

    def __init__(self, vardex, debug_file):
        self.vardex = vardex
        try:
            self.process = subprocess.Popen([vardex, "-lookup", debug_file_argument(debug_file)],
                                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        except OSError as error:
            raise VardexError(f"cannot run vardex ({vardex}): {error.strerror}") from None
        self.sources = {}  # address -> what follows it in the text, b"" for none

    def source_of(self, address):
        """b" (PATH:LINE:CHAR in ROUTINE)" for an address in a routine, else b""."""
        if address not in self.sources:
            answer = self.ask(f"0x{address:x}")
            found = IN_ROUTINE.fullmatch(answer[0]) if len(answer) == 1 else None
            self.sources[address] = b" (%s in %s)" % (found["position"], found["routine"]) if found else b""
        return self.sources[address]

    def ask(self, lookup):
        """The lines of vardex's answer to one lookup, without their newlines."""
        try:
            self.process.stdin.write(lookup.encode() + b"\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass  # vardex ended; what it wrote tells why
        answer = []
        last_line = b""
        for line in self.process.stdout:
            if line == b"\n":
                return answer
            # An answer is a few lines; a vardex without this mode lists the whole file instead.
            if len(answer) < 100:
                answer.append(line.rstrip(b"\n"))
            last_line = line
        self.failed(answer + [last_line])

    def failed(self, lines):
        """vardex ended before it answered: raises the error it reported."""
        status = self.process.wait()
        for line in lines:
            if FATAL_PREFIX in line:
                message = line[line.index(FATAL_PREFIX):].rstrip(b"\n").decode("utf-8", errors="replace")
                raise VardexError("vardex: " + one_line(message))
            if line.startswith(b"Switch -lookup unknown"):
                raise VardexError(f"vardex ({self.vardex}) is too old: it does not read lookups "
                                  "from standard input (switch -lookup)")
        if status < 0:
            raise VardexError(f"vardex ({self.vardex}) was killed by signal {-status}")
        raise VardexError(f"vardex ({self.vardex}) ended before it answered (status {status})")

    def close(self):
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        self.process.stdout.close()
        self.process.wait()


def symbolized(line, symbolizer):
    """The line with the source position after each address of code in it."""
    def with_source(address):
        value = int(address[1], 16)
        return address[0] + (symbolizer.source_of(value) if value <= LARGEST_ADDRESS else b"")
    return ADDRESS.sub(with_source, line)


class OutputFailed(Exception):
    """Standard output could not be written."""


def copy(text, symbolizer, line_by_line):
    """Copies the lines of the text to standard output, symbolized."""
    for line in text:
        line = symbolized(line, symbolizer)
        try:
            sys.stdout.buffer.write(line)
            if line_by_line:
                sys.stdout.buffer.flush()
        except OSError as error:
            raise OutputFailed(error) from None


def copy_files(names, symbolizer, program_name):
    """Copies the files, "-" for standard input; returns the exit status."""
    status = 0
    for name in names:
        if name == "-":
            copy(sys.stdin.buffer, symbolizer, line_by_line=True)
            continue
        try:
            with open(name, "rb") as text:
                copy(text, symbolizer, line_by_line=False)
        except OSError as error:  # reading it; a failed write is an OutputFailed
            print(f"{program_name}: cannot read {name}: {error.strerror}", file=sys.stderr)
            status = 1
    try:
        sys.stdout.buffer.flush()
    except OSError as error:
        raise OutputFailed(error) from None
    return status


def main():
    program_name = Path(sys.argv[0]).name
    parser = argparse.ArgumentParser(
        description="Copy text to standard output with the source position after every code address.")
    parser.add_argument("debug_file", metavar="DEBUGFILE", help="the game's debugging file")
    parser.add_argument("files", nargs="*", metavar="FILE", help="the texts to copy (default: standard input)")
    parser.add_argument("--vardex", metavar="PATH",
                        help="the vardex program (default: $VARDEX, vardex on PATH, "
                             "or build/release/vardex of this repository)")
    arguments = parser.parse_args()
    try:
        symbolizer = Symbolizer(find_vardex(arguments.vardex), arguments.debug_file)
        try:
            # A lookup that every file answers, so that a file vardex cannot
            # read is reported before any text is copied.
            symbolizer.ask("+0")
            return copy_files(arguments.files or ["-"], symbolizer, program_name)
        finally:
            symbolizer.close()
    except VardexError as error:
        print(f"{program_name}: {error}", file=sys.stderr)
        return 1
    except OutputFailed as failure:
        discard_standard_output()
        if not isinstance(failure.args[0], BrokenPipeError):  # a closed pipe ends it quietly, as any filter
            print(f"{program_name}: cannot write to standard output: {failure.args[0].strerror}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
