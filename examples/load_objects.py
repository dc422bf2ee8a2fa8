#!/usr/bin/env python3
"""Load a game's objects through vardex's JSON mode and print them as a table.

    load_objects.py [--vardex PATH] [DEBUGFILE]

DEBUGFILE defaults to gameinfo.dbg in the working directory, as for vardex.
The vardex program is the one given with --vardex, else the one named by the
VARDEX environment variable, else `vardex` on PATH, else build/release/vardex
of the repository this script belongs to.

Every object of the file is listed, with its short name, name words and
exits where an object details record follows it. Files that a compiler
writes hold no such records: their objects show only the identifier and the
source line.

Exit status: 0 when the table is printed; 1 when vardex could not be run or
reported an error (the message goes to standard error), or when the table
could not be written (quietly when standard output is a closed pipe); 2 for
a usage error.

Other scripts import this one: load_game() returns the objects, the sources
list and the markers, with the values that vardex's Python mode gives them.
Standard library only.
"""

import argparse
import json
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

# The record kinds that load_game() reads; every other line is only looked at
# for its kind, so the sequence points of a large game cost no parsing.
KINDS_READ = {"file", "object", "object_details", "routine", "directive_end", "library_include",
              "unknown_type", "fatal_error", "end"}
KIND_PREFIX = b'{"kind":"'

# Objects that the compiler names itself; their identifier is the short name.
NAMELESS_PREFIX = "nameless_obj__"


class VardexError(Exception):
    """vardex could not be run, or it reported that its run failed."""


class GameObject:
    """One game object, with the attributes of vardex's Python mode."""

    def __init__(self, number, name, source, line):
        self.obj_number = number
        self.obj_name = name              # the object's name in the game, by which exits refer to it
        self.obj_id = name
        self.obj_short_name = ""
        self.obj_source = source
        self.obj_line = line - 1          # zero-based
        self.obj_with_line = None         # zero-based; None when not known
        self.obj_with_line_pos = None
        self.obj_name_line = None
        self.obj_name_line_pos = None
        self.obj_name_list = []
        self.obj_directions = {}          # exit property name -> destination name
        self.obj_is_room = 0
        self.obj_has_details = False


qivobj = GameObject  # the name under which earlier versions of this script defined it


class Game:
    """The objects of a debugging file, its source files and its markers."""

    def __init__(self):
        self.objects = []                 # in file order
        self.objects_by_name = {}         # the last object of each name
        self.sources = []                 # relative paths of files 1 to the last file number
        self.initialise = None            # (path, line, character) where Initialise begins
        self.main_end = None              # (path, line) of the directive end
        self.library_include = None       # (path, line) of the library's Include
        self.has_object_details = False   # False for files written by the compiler

    def name_of(self, obj):
        """The object's name in the game, by which exits refer to it."""
        return obj.obj_name


class SourceFiles:
    """Source paths as vardex's Python mode writes them: relative to the
    directory of file 1, with "\\" and ":" read as "/"."""

    def __init__(self):
        self.relative_paths = {}
        self.base_length = 0
        self.last_number = 0

    def add(self, number, path):
        path = path.replace("\\", "/").replace(":", "/")
        if number == 1:
            self.base_length = path.rfind("/") + 1
        # Taken when the record is read: a file before file 1 keeps its whole path.
        relative = path[self.base_length:]
        while relative.startswith("./"):
            relative = relative[2:]
        self.relative_paths[number] = relative
        self.last_number = number

    def path(self, number):
        return self.relative_paths.get(number, "")

    def sources(self):
        return [self.path(number) for number in range(1, self.last_number + 1)]


def is_initialise(name):
    """Whether a routine is the one whose start the Initialise marker gives:
    named Initialise in any case, alone or followed by a space."""
    return name[:10].upper() == "INITIALISE" and name[10:11] in ("", " ")


def add_record(game, files, record):
    kind = record["kind"]
    if kind == "file":
        files.add(record["number"], record["path"])
    elif kind == "object":
        start = record["start"]
        obj = GameObject(record["number"], record["name"], files.path(start["file"]), start["line"])
        game.objects.append(obj)
        game.objects_by_name[obj.obj_name] = obj
    elif kind == "object_details":
        game.has_object_details = True
        # It completes the most recent object, whatever its number says.
        if game.objects:
            add_details(game.objects[-1], record)
    elif kind == "routine":
        start = record["start"]
        if is_initialise(record["name"]):
            game.initialise = (files.path(start["file"]), start["line"] - 1, start["char"] + 10)
    elif kind == "directive_end":
        game.main_end = (files.path(record["at"]["file"]), record["at"]["line"] - 1)
    elif kind == "library_include":
        game.library_include = (files.path(record["at"]["file"]), record["at"]["line"] - 1)


def add_details(obj, record):
    obj.obj_has_details = True
    obj.obj_short_name = record["short_name"]
    if obj.obj_name.startswith(NAMELESS_PREFIX):
        obj.obj_id = f'"{obj.obj_short_name}"'
    # File 0 is no position.
    if record["with_at"]["file"]:
        obj.obj_with_line = record["with_at"]["line"] - 1
        obj.obj_with_line_pos = record["with_at"]["char"] + 3
    if record["name_at"]["file"]:
        obj.obj_name_line = record["name_at"]["line"] - 1
        obj.obj_name_line_pos = record["name_at"]["char"] + 3
    obj.obj_name_list = list(record["names"])
    obj.obj_directions = {exit["direction"]: exit["to"] for exit in record["exits"]}
    obj.obj_is_room = 1 if record["exits"] else 0


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


def debug_file_argument(debug_file):
    # vardex takes every argument that begins with "-" for a switch.
    return debug_file if not debug_file.startswith("-") else "./" + debug_file


def one_line(text):
    """The text with control and other unprintable characters written as \\xNN
    or \\uNNNN, so that a message from vardex stays one line."""
    return "".join(c if c.isprintable() else f"\\x{ord(c):02x}" if ord(c) < 0x100 else f"\\u{ord(c):04x}"
                   for c in text)


def load_game(vardex, debug_file=None):
    """Runs `vardex -json -all` on DEBUGFILE and returns the Game its records describe.

    A complete run ends with the end record and status 0; a failed one with
    a fatal_error line and status 1, whose message the VardexError carries.
    """
    command = [vardex, "-json", "-all"]
    if debug_file is not None:
        command.append(debug_file_argument(debug_file))
    game, files = Game(), SourceFiles()
    last_kind = None
    unreadable_line = None
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    except OSError as error:
        raise VardexError(f"cannot run vardex ({vardex}): {error.strerror}") from None
    with process:
        for line in process.stdout:
            kind = line[len(KIND_PREFIX):line.find(b'"', len(KIND_PREFIX))].decode("utf-8", errors="replace") \
                if line.startswith(KIND_PREFIX) else None
            last_kind = kind
            if kind is None:
                unreadable_line = unreadable_line or line[:80]
            if kind not in KINDS_READ:
                continue
            try:
                record = json.loads(line)
            except ValueError:
                unreadable_line = unreadable_line or line[:80]
                continue
            if kind == "fatal_error":
                raise VardexError("vardex: Fatal error: " + one_line(record["message"]))
            if kind == "unknown_type":
                # A byte that is no record type; the run went on.
                print(f"{Path(sys.argv[0]).name}: warning: vardex: Unknown type {record['type']}", file=sys.stderr)
            add_record(game, files, record)
    if process.returncode < 0:
        raise VardexError(f"vardex ({vardex}) was killed by signal {-process.returncode}")
    if unreadable_line is not None:
        raise VardexError(f"vardex's output is not JSON: {one_line(unreadable_line.decode('utf-8', 'replace'))}")
    if last_kind != "end":
        raise VardexError(f"vardex ({vardex}) stopped before the end of its output")
    if process.returncode != 0:
        raise VardexError(f"vardex ({vardex}) ended with status {process.returncode}")
    game.sources = files.sources()
    return game


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
        discard_standard_output()
        return False
    except OSError as error:
        discard_standard_output()
        print(f"{program_name}: cannot write to standard output: {error.strerror}", file=sys.stderr)
        return False
    return True


def discard_standard_output():
    """After a failed write: Python flushes standard output once more at exit; /dev/null takes that."""
    os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())


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
