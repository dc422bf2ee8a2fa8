#!/usr/bin/env python3
"""Draw the rooms of a game and their exits as a Graphviz map.

    room_map.py [--vardex PATH] [-o MAP] [DEBUGFILE]

Loads the game's objects through vardex's JSON mode as load_objects.py does
(which must stand beside this script), and writes a Graphviz DOT graph: one
box per room (an object with exits), one arrow per exit, labelled with its
direction. An exit that leads to something that is not a room (a door, or an
object the debugging file does not describe) ends in a dashed box.

Exits come from object details records, which only some debugging files
hold (compilers write none). When the file holds no exits, the script says
so on standard error and in the map's title, and writes the empty map.

The DOT text goes to standard output, or to MAP with -o. When MAP ends in
.dot or .gv, or has no suffix, it holds the DOT text; any other suffix (.svg,
.png, .pdf, ...) names the format that Graphviz's `dot` program renders.

Exit status: 0 when the map is written; 1 when vardex could not be run or
reported an error, or dot failed, or the map could not be written (quietly
when standard output is a closed pipe); 2 for a usage error; 3 when MAP
needs dot and Graphviz is not installed.
"""

import shutil
import subprocess
import sys
from pathlib import Path

from load_objects import DIRECTION_WORDS, VardexError, find_vardex, load_game, parse_arguments, write_output

DOT_SUFFIXES = {"", ".dot", ".gv"}
GRAPHVIZ_MISSING = 3


def quoted(text):
    """A DOT string literal holding the text."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def room_map(game, title):
    """The DOT text of the rooms of the game and their exits."""
    rooms = [obj for obj in game.objects if obj.obj_is_room]
    room_names = {game.name_of(room) for room in rooms}
    lines = ["digraph rooms {",
             f"    label={quoted(title)};",
             "    labelloc=t;",
             "    node [shape=box];"]
    for room in rooms:
        lines.append(f"    {quoted(game.name_of(room))} [label={quoted(room.obj_short_name or game.name_of(room))}];")

    edges = []
    other_destinations = []
    for room in rooms:
        for direction, destination in room.obj_directions.items():
            edges.append(f"    {quoted(game.name_of(room))} -> {quoted(destination)}"
                         f" [label={quoted(DIRECTION_WORDS.get(direction, direction))}];")
            if destination not in room_names and destination not in other_destinations:
                other_destinations.append(destination)
    if other_destinations:
        lines.append("    // Destinations that are not rooms of the game.")
    for destination in other_destinations:
        obj = game.objects_by_name.get(destination)
        label = obj.obj_short_name if obj is not None and obj.obj_short_name else destination
        lines.append(f"    {quoted(destination)} [label={quoted(label)}, style=dashed];")
    return "\n".join(lines + edges + ["}"]) + "\n"


def write_map(dot_text, path, program_name):
    """Writes the DOT text to PATH, rendered by dot unless PATH is a DOT file; returns the exit status."""
    output_format = Path(path).suffix.lower()
    if output_format in DOT_SUFFIXES:
        try:
            Path(path).write_text(dot_text, encoding="utf-8")
        except OSError as error:
            print(f"{program_name}: cannot write {path}: {error.strerror}", file=sys.stderr)
            return 1
        return 0
    dot = shutil.which("dot")
    if dot is None:
        print(f"{program_name}: cannot write {path}: Graphviz is not installed (no `dot` program on PATH).\n"
              f"{program_name}: install Graphviz (on Debian: apt-get install graphviz), "
              f"or write the DOT text with -o {Path(path).with_suffix('.dot')} and render it elsewhere.",
              file=sys.stderr)
        return GRAPHVIZ_MISSING
    run = subprocess.run([dot, "-T" + output_format[1:], "-o", path],
                         input=dot_text.encode("utf-8"), stderr=subprocess.PIPE)
    if run.returncode != 0:
        print(f"{program_name}: dot could not write {path}: "
              f"{run.stderr.decode('utf-8', errors='replace').strip()}", file=sys.stderr)
        return 1
    return 0


def main():
    program_name = Path(sys.argv[0]).name
    parser = parse_arguments("Write a Graphviz map of the rooms in a game's debugging file.")
    parser.add_argument("-o", "--output", metavar="MAP",
                        help="write the map to MAP: DOT text for .dot, .gv or no suffix, "
                             "else rendered by Graphviz's dot in the format of the suffix (.svg, .png, .pdf)")
    arguments = parser.parse_args()
    try:
        game = load_game(find_vardex(arguments.vardex), arguments.debug_file)
    except VardexError as error:
        print(f"{program_name}: {error}", file=sys.stderr)
        return 1
    file_name = Path(arguments.debug_file or "gameinfo.dbg").name
    title = "Rooms of " + file_name
    if not any(obj.obj_is_room for obj in game.objects):
        reason = ("none of its objects has any" if game.has_object_details else
                  "it has no object details records, which compilers do not write")
        print(f"{program_name}: {file_name} holds no exits ({reason}), so the map has no rooms", file=sys.stderr)
        title += ": the file holds no exits"
    dot_text = room_map(game, title)
    if arguments.output is None:
        return 0 if write_output(dot_text, program_name) else 1
    return write_map(dot_text, arguments.output, program_name)


if __name__ == "__main__":
    sys.exit(main())
