#!/usr/bin/env python3
"""Load a game's objects through vardex's Python mode and print them as a table.

    load_objects.py [--vardex PATH] [DEBUGFILE]

DEBUGFILE defaults to gameinfo.dbg in the working directory, as for vardex.
The vardex program is the one given with --vardex, else the one named by the
VARDEX environment variable, else `vardex` on PATH, else build/release/vardex
of the repository this script belongs to.

Exit status: 0 when the table is printed; 1 when vardex could not be run or
reported an error (the message goes to standard error), or when the table
could not be written (quietly when standard output is a closed pipe); 2 for
a usage error.

Other scripts import this one: load_game() returns the objects, the sources
list and the markers that vardex wrote. Standard library only.
"""

import argparse
import os
import shutil
import subprocess
import sys
from pathlib import Path

# vardex's exit property names, as words a reader knows.
DIRECTION_WORDS = {
    "n_to": "north", "ne_to": "northeast", "e_to": "east", "se_to": "southeast",
    "s_to": "south", "sw_to": "southwest", "w_to": "west", "nw_to": "northwest",
    "u_to": "up", "d_to": "down", "in_to": "in", "out_to": "out",
}

# The two selection lines: exclude no file, include all of them.
ALL_FILES_SELECTED = b"\n*\n"

FATAL_PREFIX = "Fatal error: "
LAST_LINE_PREFIX = "Zkelm_qivSources="
UNKNOWN_TYPE_PREFIX = "Unknown type "


class VardexError(Exception):
    """vardex could not be run, or it reported that its run failed."""


class qivobj:  # noqa: N801 -- the name vardex's output calls
    """One game object; vardex's output sets its attributes."""

    def __init__(self):
        self.obj_id = ""
        self.obj_short_name = ""
        self.obj_source = ""
        self.obj_line = -1            # zero-based
        self.obj_with_line = None     # zero-based; absent when not known
        self.obj_with_line_pos = None
        self.obj_name_line = None
        self.obj_name_line_pos = None
        self.obj_name_list = []
        self.obj_directions = {}      # exit property name -> destination name
        self.obj_is_room = 0


class Game:
    """What vardex's Python output defines, read back from its namespace."""

    def __init__(self, namespace):
        self.objects = namespace.get("Zkelm_qivObjList", [])
        self.objects_by_name = namespace.get("Zkelm_qivObjDict", {})
        self.sources = namespace.get("Zkelm_qivSources", [])
        self.initialise = namespace.get("Zkelm_qivSource_initialise")         # (path, line, character)
        self.main_end = namespace.get("Zkelm_qivSource_mainEnd")              # (path, line)
        self.library_include = namespace.get("Zkelm_qivSource_includeQuibrel")  # (path, line)
        self._names = {id(obj): name for name, obj in self.objects_by_name.items()}

    def name_of(self, obj):
        """The object's name in the game (its dictionary key), by which exits refer to it."""
        return self._names.get(id(obj), obj.obj_id)


def find_vardex(explicit=None):
    """Path of the vardex program to run, in the order the module docstring gives."""
    if explicit:
        return explicit
    if os.environ.get("VARDEX"):
        return os.environ["VARDEX"]
    on_path = shutil.which("vardex")
    if on_path:
        return on_path
    in_repository = Path(__file__).resolve().parent.parent / "build" / "release" / "vardex"
    if in_repository.is_file():
        return str(in_repository)
    raise VardexError(
        "cannot find vardex: give --vardex PATH, set VARDEX, put vardex on PATH, "
        f"or build it as {in_repository}")


def run_vardex(vardex, debug_file=None):
    """vardex's Python text for DEBUGFILE with every source file selected.

    vardex exits with status 1 after a complete run and after a failed one
    alike, so its output tells how the run went: it is complete only when its
    last line is the sources list. A failed run's last line holds the fatal
    error's message, at its start or after the part of a record printed
    before the file ended.
    """
    command = [vardex, "-python"]
    if debug_file is not None:
        # vardex takes every argument that begins with "-" for a switch.
        command.append(debug_file if not debug_file.startswith("-") else "./" + debug_file)
    try:
        run = subprocess.run(command, input=ALL_FILES_SELECTED, stdout=subprocess.PIPE)
    except OSError as error:
        raise VardexError(f"cannot run vardex ({vardex}): {error.strerror}") from None
    text = run.stdout.decode("utf-8", errors="replace")
    lines = output_lines(text)
    last_line = lines[-1] if lines else ""
    if run.returncode == 1 and text.endswith("\n") and last_line.startswith(LAST_LINE_PREFIX):
        return text
    if FATAL_PREFIX in last_line:
        raise VardexError("vardex: " + last_line[last_line.index(FATAL_PREFIX):])
    if run.returncode < 0:
        raise VardexError(f"vardex ({vardex}) was killed by signal {-run.returncode}")
    if run.returncode != 1:
        raise VardexError(f"vardex ({vardex}) ended with status {run.returncode}")
    raise VardexError(f"vardex ({vardex}) stopped before the end of its output")


def output_lines(text):
    """The lines of vardex's output. Only a newline ends a line: str.splitlines()
    would also break at U+2028, U+2029 and U+0085, which names may hold."""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return lines


def load_game(vardex, debug_file=None):
    """Runs vardex and executes its Python text; returns the Game it defines."""
    python_lines = []
    for line in output_lines(run_vardex(vardex, debug_file)):
        # A notice about a byte that is no record type; the run went on.
        if line.startswith(UNKNOWN_TYPE_PREFIX):
            print(f"{Path(sys.argv[0]).name}: warning: vardex: {line}", file=sys.stderr)
            continue
        python_lines.append(line)
    # The text only assigns literals and calls qivobj, so it needs no built-ins.
    namespace = {"__builtins__": {}, "qivobj": qivobj}
    try:
        exec(compile("\n".join(python_lines) + "\n", "<vardex output>", "exec"), namespace)
    except Exception as error:  # a vardex that writes bad Python is a vardex bug
        raise VardexError(f"vardex's output does not run as Python: {error}") from None
    return Game(namespace)


def exit_words(directions):
    """'north: cellar, in: garden' for {'n_to': 'cellar', 'in_to': 'garden'}."""
    return ", ".join(f"{DIRECTION_WORDS.get(direction, direction)}: {destination}"
                     for direction, destination in directions.items())


def printable(text):
    """The text itself, or with control characters escaped so that a row stays one line."""
    return text if text.isprintable() else repr(text)[1:-1]


def object_table(game):
    """Lines of the table: identifier, short name, source:line, name words, exits."""
    rows = [("identifier", "short name", "source", "name words", "exits")]
    for obj in game.objects:
        rows.append((obj.obj_id,
                     obj.obj_short_name,
                     f"{obj.obj_source}:{obj.obj_line + 1}",
                     " ".join(obj.obj_name_list),
                     exit_words(obj.obj_directions)))
    rows = [tuple(printable(cell) for cell in row) for row in rows]
    widths = [max(len(row[column]) for row in rows) for column in range(len(rows[0]) - 1)]
    return ["  ".join(cell.ljust(width) for cell, width in zip(row, widths + [0])).rstrip()
            for row in rows]


def write_output(text, program_name):
    """Writes the text on standard output; False when it cannot be written.

    A closed pipe (as under `| head`) ends the script quietly, as it ends any
    filter; any other failure is reported on standard error.
    """
    try:
        sys.stdout.write(text)
        sys.stdout.flush()
    except BrokenPipeError:
        # Python flushes standard output once more at exit; /dev/null takes that.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return False
    except OSError as error:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        print(f"{program_name}: cannot write to standard output: {error.strerror}", file=sys.stderr)
        return False
    return True


def parse_arguments(description):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("debug_file", nargs="?", metavar="DEBUGFILE",
                        help="the debugging file (default: gameinfo.dbg in the working directory)")
    parser.add_argument("--vardex", metavar="PATH",
                        help="the vardex program (default: $VARDEX, vardex on PATH, "
                             "or build/release/vardex of this repository)")
    return parser


def main():
    arguments = parse_arguments("Print the objects of a game's debugging file as a table.").parse_args()
    try:
        game = load_game(find_vardex(arguments.vardex), arguments.debug_file)
    except VardexError as error:
        print(f"{Path(sys.argv[0]).name}: {error}", file=sys.stderr)
        return 1
    return 0 if write_output("".join(line + "\n" for line in object_table(game)), Path(sys.argv[0]).name) else 1


if __name__ == "__main__":
    sys.exit(main())
