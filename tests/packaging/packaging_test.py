#!/usr/bin/env python3
"""Checks of what a user meets outside the program: installed files, the
manual page, the Debian package, the consumer scripts in examples/ and the
examples that the README, docs/INTEGRATING.md and the manual page show.

    packaging_test.py CHECK --vardex BIN --source-dir DIR --build-dir DIR
                      --work-dir DIR --cmake CMAKE --cpack CPACK

Exit status: 0 passed, 1 failed (with the difference shown), 77 skipped
because a tool the check needs is not installed.
"""

import argparse
import difflib
import os
import re
import select
import shlex
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SKIPPED = 77

# `vardex -objects` on examples/gameinfo.dbg.
SAMPLE_OBJECTS_LISTING = """\
Vardex 1 (try "vardex -help" for instructions)
Debugging file from Ostrel 6.36 (v 1632)
Object 27 "hall" from 3:4:1 to 3:11:2
Object 28 "cellar" from 3:13:1 to 3:18:2
Object 29 "nameless_obj__29" from 1:40:1 to 1:43:2
"""

SAMPLE_OBJECT_TABLE = """\
identifier       short name     source          name words          exits
hall             Great Hall     rooms.src:4     great hall          north: cellar, in: garden
cellar           Damp Cellar    rooms.src:13    cellar              up: hall
"brass lantern"  brass lantern  lantern.src:40  brass lantern lamp
"""

SAMPLE_ROOM_MAP = """\
digraph rooms {
    label="Rooms of gameinfo.dbg";
    labelloc=t;
    node [shape=box];
    "hall" [label="Great Hall"];
    "cellar" [label="Damp Cellar"];
    // Destinations that are not rooms of the game.
    "garden" [label="garden", style=dashed];
    "hall" -> "cellar" [label="north"];
    "hall" -> "garden" [label="in"];
    "cellar" -> "hall" [label="up"];
}
"""


class CheckFailed(Exception):
    pass


class Skip(Exception):
    pass


def expect_equal(actual, expected, what):
    if actual != expected:
        difference = "".join(difflib.unified_diff(
            expected.splitlines(keepends=True), actual.splitlines(keepends=True),
            "expected", "actual"))
        raise CheckFailed(f"{what} differs:\n{difference}")


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


def require_tool(name):
    path = shutil.which(name)
    if path is None:
        raise Skip(f"{name} is not installed")
    return path


def run(command, **options):
    """Runs the command; returns (status, stdout, stderr) as text."""
    if "input" not in options:
        options["stdin"] = subprocess.DEVNULL
    completed = subprocess.run([str(part) for part in command], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=60, **options)
    return (completed.returncode, completed.stdout.decode("utf-8", errors="replace"),
            completed.stderr.decode("utf-8", errors="replace"))


def run_successfully(command, **options):
    status, out, err = run(command, **options)
    expect(status == 0, f"{' '.join(map(str, command))} ended with status {status}:\n{out}{err}")
    return out


# --- Installation and the Debian package ----------------------------------

def check_installed_tree(root, prefix, source_dir, what):
    vardex = root / prefix / "bin" / "vardex"
    manual = root / prefix / "share" / "man" / "man1" / "vardex.1"
    expect(os.access(vardex, os.X_OK), f"{what}: {vardex} is not an executable file")
    expect(manual.is_file(), f"{what}: {manual} is missing")
    expect_equal(manual.read_text(), (source_dir / "docs" / "vardex.1").read_text(), f"{what}: installed manual page")
    status, out, _ = run([vardex, "-objects", source_dir / "examples" / "gameinfo.dbg"])
    expect(status == 1, f"{what}: vardex ended with status {status}, not 1")
    expect_equal(out, SAMPLE_OBJECTS_LISTING, f"{what}: output of the installed vardex")


def check_install(arguments):
    with tempfile.TemporaryDirectory(prefix="vardex-install-") as prefix:
        run_successfully([arguments.cmake, "--install", arguments.build_dir, "--prefix", prefix])
        check_installed_tree(Path(prefix), ".", arguments.source_dir, "cmake --install")


def check_debian_package(arguments):
    require_tool("dpkg-deb")
    package_dir = arguments.work_dir / "deb"
    shutil.rmtree(package_dir, ignore_errors=True)
    run_successfully([arguments.cpack, "-G", "DEB", "-B", package_dir,
                      "--config", arguments.build_dir / "CPackConfig.cmake"])
    packages = sorted(package_dir.glob("vardex_*.deb"))
    expect(len(packages) == 1, f"cpack wrote {len(packages)} packages in {package_dir}, not 1")
    package = packages[0]

    expect_equal(run_successfully(["dpkg-deb", "--field", package, "Package"]), "vardex\n", "package name")
    expect(re.fullmatch(r"\d+\.\d+\.\d+\n", run_successfully(["dpkg-deb", "--field", package, "Version"])),
           "package version is not MAJOR.MINOR.PATCH")
    depends = run_successfully(["dpkg-deb", "--field", package, "Depends"])
    expect("libc6" in depends, f"package Depends lacks libc6: {depends!r}")
    files = [line.split()[-1] for line in run_successfully(["dpkg-deb", "--contents", package]).splitlines()
             if not line.startswith("d")]
    expect_equal("\n".join(files) + "\n", "./usr/bin/vardex\n./usr/share/man/man1/vardex.1\n", "files of the package")

    with tempfile.TemporaryDirectory(prefix="vardex-deb-") as root:
        run_successfully(["dpkg-deb", "-x", package, root])
        check_installed_tree(Path(root), "usr", arguments.source_dir, "Debian package")


# --- The manual page ------------------------------------------------------

def check_manual_renders(arguments):
    groff = require_tool("groff")
    manual = arguments.source_dir / "docs" / "vardex.1"
    for device in ([], ["-Tutf8"]):
        status, _, err = run([groff, "-man", "-ww", "-z", *device, manual])
        expect(status == 0 and err == "", f"groff -man -ww -z {' '.join(device)} warns:\n{err}")


def manual_text(source_dir):
    """The manual page's source with the escapes it uses for plain characters undone."""
    text = (source_dir / "docs" / "vardex.1").read_text()
    for escape, character in (("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\e", "\\")):
        text = text.replace(escape, character)
    return text


def check_manual_is_complete(arguments):
    """Every switch of the help text and every message of the program is documented."""
    text = manual_text(arguments.source_dir)
    _, help_text, _ = run([arguments.vardex, "-help", "/nonexistent/gameinfo.dbg"])
    switches = sorted(set(re.findall(r"(?<=\s)-[a-z]+(?:-[a-z]+)*", help_text)))
    expect(len(switches) >= 15, f"found only {switches} in the help text")
    undocumented = [switch for switch in switches if not re.search(rf"^\.B {switch}$", text, re.MULTILINE)]
    expect(not undocumented, f"switches without an entry in OPTIONS: {undocumented}")

    sources = "".join(path.read_text() for path in sorted((arguments.source_dir / "src").rglob("*.cpp")))
    messages = re.findall(r'(?:fatal_error(?:_with_path)?\(\s*\w+,|\.fail\()\s*"([^"\\]*)"', sources)
    expect(len(messages) >= 5, f"found only {messages} as fatal error messages in src/")
    messages += ["Switch -NAME unknown", "Unknown type N"]
    missing = [message for message in messages if message not in text]
    expect(not missing, f"messages missing from DIAGNOSTICS: {missing}")


# --- The consumer scripts -------------------------------------------------

def run_script(script, arguments, extra=(), env=None, cwd=None):
    return run([sys.executable, script, *extra], env=env, cwd=cwd)


def run_into_closed_pipe(command):
    """Runs the command with standard output a pipe that nobody reads; returns (status, stderr)."""
    reading, writing = os.pipe()
    os.close(reading)
    try:
        completed = subprocess.run([str(part) for part in command], stdin=subprocess.DEVNULL, stdout=writing,
                                   stderr=subprocess.PIPE, timeout=60)
    finally:
        os.close(writing)
    return completed.returncode, completed.stderr.decode("utf-8", errors="replace")


def environment_without_vardex(path):
    env = {key: value for key, value in os.environ.items() if key != "VARDEX"}
    env["PATH"] = str(path)
    return env


def check_load_objects(arguments):
    script = arguments.source_dir / "examples" / "load_objects.py"
    sample = arguments.source_dir / "examples" / "gameinfo.dbg"
    with tempfile.TemporaryDirectory(prefix="vardex-examples-") as temporary:
        temporary = Path(temporary)
        empty_path = temporary / "empty"
        empty_path.mkdir()

        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, sample])
        expect(status == 0, f"load_objects.py ended with status {status}: {err}")
        expect_equal(out, SAMPLE_OBJECT_TABLE, "table of load_objects.py")

        # Without DEBUGFILE it reads gameinfo.dbg in the working directory, as vardex does.
        env = environment_without_vardex(empty_path) | {"VARDEX": str(arguments.vardex)}
        status, out, err = run_script(script, arguments, env=env, cwd=sample.parent)
        expect_equal(out, SAMPLE_OBJECT_TABLE, "table with vardex from $VARDEX")

        on_path = temporary / "bin"
        on_path.mkdir()
        (on_path / "vardex").symlink_to(arguments.vardex)
        status, out, err = run_script(script, arguments, [sample], env=environment_without_vardex(on_path))
        expect_equal(out, SAMPLE_OBJECT_TABLE, "table with vardex from PATH")

        # A copy of the examples outside this repository finds build/release/vardex beside them.
        copy = temporary / "repository" / "examples" / "load_objects.py"
        copy.parent.mkdir(parents=True)
        shutil.copy(script, copy)
        env = environment_without_vardex(empty_path)
        status, out, err = run_script(copy, arguments, [sample], env=env)
        expect(status == 1 and out == "", f"without any vardex: status {status}, output {out!r}")
        expect("cannot find vardex: give --vardex PATH, set VARDEX, put vardex on PATH" in err,
               f"without any vardex, the message is {err!r}")
        release = temporary / "repository" / "build" / "release"
        release.mkdir(parents=True)
        (release / "vardex").symlink_to(arguments.vardex)
        status, out, err = run_script(copy, arguments, [sample], env=env)
        expect_equal(out, SAMPLE_OBJECT_TABLE, "table with build/release/vardex")

        # vardex always exits with status 1: only its output tells a failed run.
        missing = temporary / "missing.dbg"
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, missing])
        expect(status == 1 and out == "", f"missing file: status {status}, output {out!r}")
        expect_equal(err, f'load_objects.py: vardex: Fatal error: Couldn\'t open debugging info file "{missing}"\n',
                     "message for a missing debugging file")

        # A crafted path runs no code, and its message stays one line.
        marker = temporary / "code-ran"
        hostile = f'x"""\nqivobj.__init__.__globals__["os"].system("touch {marker}")\nZkelm_qivSources=[]#'
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, hostile], cwd=temporary)
        expect(not marker.exists(), "a crafted path ran code through load_objects.py")
        escaped = hostile.replace("\n", "\\x0a")
        expect(status == 1 and out == "", f"crafted path: status {status}, output {out!r}")
        expect_equal(err, f'load_objects.py: vardex: Fatal error: Couldn\'t open debugging info file "{escaped}"\n',
                     "message for a crafted path")

        cut_short = temporary / "cut.dbg"
        cut_short.write_bytes(sample.read_bytes()[:300])
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, cut_short])
        expect(status == 1 and out == "", f"file cut short: status {status}, output {out!r}")
        expect_equal(err, "load_objects.py: vardex: Fatal error: Unexpected end of debugging info file\n",
                     "message for a file cut short")

        # A byte that is no record type is a notice; the objects still load.
        unknown_type = temporary / "unknown.dbg"
        unknown_type.write_bytes(sample.read_bytes()[:6] + bytes([200]) + sample.read_bytes()[6:])
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, unknown_type])
        expect(status == 0, f"unknown type: status {status}: {err}")
        expect_equal(out, SAMPLE_OBJECT_TABLE, "table of a file with an unknown type byte")
        expect_equal(err, "load_objects.py: warning: vardex: Unknown type 200\n", "notice of an unknown type")

        status, out, err = run_script(script, arguments, ["--vardex", temporary / "no-such-vardex", sample])
        expect(status == 1 and "cannot run vardex" in err, f"vardex missing: status {status}, message {err!r}")

        # Only a newline ends a line of vardex's output: names may hold U+2028,
        # U+2029 and U+0085.
        separators = temporary / "separators.dbg"
        separators.write_bytes(sample.read_bytes().replace(b"Great Hall", "Great\u2028Hall\u2029\u0085".encode()))
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, separators])
        expect(status == 0 and err == "", f"line separators in a name: status {status}: {err}")
        expect("hall             Great\\u2028Hall\\u2029\\x85  rooms.src:4" in out,
               f"line separators in a name read back as:\n{out}")

        # A closed standard output ends it quietly, as it ends any filter.
        status, err = run_into_closed_pipe([sys.executable, script, "--vardex", arguments.vardex, sample])
        expect(status == 1 and err == "", f"closed pipe: status {status}, message {err!r}")


def check_room_map(arguments):
    script = arguments.source_dir / "examples" / "room_map.py"
    sample = arguments.source_dir / "examples" / "gameinfo.dbg"
    with tempfile.TemporaryDirectory(prefix="vardex-examples-") as temporary:
        temporary = Path(temporary)
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, sample])
        expect(status == 0, f"room_map.py ended with status {status}: {err}")
        expect_equal(out, SAMPLE_ROOM_MAP, "DOT text of room_map.py")

        map_file = temporary / "map.dot"
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, "-o", map_file, sample])
        expect(status == 0 and out == "", f"-o map.dot: status {status}, output {out!r}: {err}")
        expect_equal(map_file.read_text(), SAMPLE_ROOM_MAP, "map.dot")

        # Without Graphviz an SVG map is refused with a clear message, and nothing is written.
        empty_path = temporary / "empty"
        empty_path.mkdir()
        svg_file = temporary / "map.svg"
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, "-o", svg_file, sample],
                                      env=environment_without_vardex(empty_path))
        expect(status == 3, f"-o map.svg without dot: status {status}, not 3")
        expect("Graphviz is not installed" in err, f"-o map.svg without dot: message {err!r}")
        expect(not svg_file.exists(), "-o map.svg without dot wrote map.svg")

        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, temporary / "missing.dbg"])
        expect(status == 1 and out == "" and "Fatal error: Couldn't open debugging info file" in err,
               f"missing file: status {status}, output {out!r}, message {err!r}")

        status, err = run_into_closed_pipe([sys.executable, script, "--vardex", arguments.vardex, sample])
        expect(status == 1 and err == "", f"closed pipe: status {status}, message {err!r}")


def check_room_map_svg(arguments):
    require_tool("dot")
    script = arguments.source_dir / "examples" / "room_map.py"
    sample = arguments.source_dir / "examples" / "gameinfo.dbg"
    with tempfile.TemporaryDirectory(prefix="vardex-examples-") as temporary:
        svg_file = Path(temporary) / "map.svg"
        status, out, err = run_script(script, arguments, ["--vardex", arguments.vardex, "-o", svg_file, sample])
        expect(status == 0 and out == "", f"-o map.svg: status {status}, output {out!r}: {err}")
        svg = svg_file.read_text()
        expect("<svg" in svg, "map.svg is no SVG")
        for label in ("Great Hall", "Damp Cellar", "garden", "north", "in", "up"):
            expect(f">{label}</text>" in svg, f"map.svg lacks the label {label}")


SYMBOLIZE_INPUT = """\
error in the call at 0x349: value out of range
$349 and 0x360, then 0x349 again; 0x35a is between routines
no code addresses: x0x349 0x349g $1000000 0x
"""

SYMBOLIZE_OUTPUT = """\
error in the call at 0x349 (games/lantern/lantern.src:22:5 in Initialise): value out of range
$349 (games/lantern/lantern.src:22:5 in Initialise) and 0x360 (games/lantern/rooms.src:31:5 in LightSub), \
then 0x349 (games/lantern/lantern.src:22:5 in Initialise) again; 0x35a is between routines
no code addresses: x0x349 0x349g $1000000 0x
"""


def check_symbolize(arguments):
    """symbolize.py with vardex reading lookups from its standard input."""
    check_readme_examples(arguments, of_symbolize=True)
    command = [sys.executable, arguments.source_dir / "examples" / "symbolize.py", "--vardex", arguments.vardex,
               arguments.source_dir / "examples" / "gameinfo.dbg"]
    status, out, err = run(command, input=SYMBOLIZE_INPUT.encode())
    expect(status == 0 and err == "", f"symbolize.py: status {status}: {err}")
    expect_equal(out, SYMBOLIZE_OUTPUT, "symbolized text")

    # At the end of a pipe that stays open, each line comes out as soon as it is in.
    with subprocess.Popen([str(part) for part in command], stdin=subprocess.PIPE, stdout=subprocess.PIPE) as script:
        script.stdin.write(b"call at $360\n")
        script.stdin.flush()
        answered = select.select([script.stdout], [], [], 20)[0]
        line = script.stdout.readline() if answered else b""
        script.stdin.close()
        expect_equal(line.decode(), "call at $360 (games/lantern/rooms.src:31:5 in LightSub)\n",
                     "line symbolized while the input stays open")

    missing = Path(arguments.work_dir) / "missing.dbg"
    status, out, err = run(command[:-1] + [missing], input=SYMBOLIZE_INPUT.encode())
    expect(status == 1 and out == "", f"missing debugging file: status {status}, output {out!r}")
    expect_equal(err, f'symbolize.py: vardex: Fatal error: Couldn\'t open debugging info file "{missing}"\n',
                 "message for a missing debugging file")

    status, err = run_into_closed_pipe(command + [arguments.source_dir / "README.md"])
    expect(status == 1 and err == "", f"closed pipe: status {status}, message {err!r}")


def record(record_type, *fields):
    """A record of a debugging file: a str field is a string, a tuple a position
    (file, line, character), an int a word, bytes are written as they are."""
    encoded = {str: lambda text: text.encode() + b"\0", int: lambda word: word.to_bytes(2, "big"),
               tuple: lambda at: bytes([at[0]]) + at[1].to_bytes(2, "big") + bytes([at[2]]), bytes: bytes}
    return bytes([record_type]) + b"".join(encoded[type(field)](field) for field in fields)


# A debugging file as a compiler writes it: no object details.
COMPILER_WRITTEN_FILE = [
    record(1, b"\x01", "main", "tale\\main.src"),
    record(1, b"\x02", "QuibrelParse", "tale/./lib/QuibrelParse.h"),
    record(3, 27, "hall", (1, 10, 1), (1, 13, 2)),
    record(3, 28, "Food", (2, 400, 1), (2, 410, 2)),
    record(3, 29, "nameless_obj__29", (1, 40, 1), (1, 43, 2)),
    record(11, 1, (1, 20, 1), b"\0\0\x02", "initialise", ""),
    record(16, (1, 60, 1)),
]
DEBUG_FILE_HEADER = b"\xde\xbf\x06\x24\x06\x60"

COMPILER_WRITTEN_TABLE = """\
identifier        short name  source                  name words  exits
hall                          main.src:10
Food                          lib/QuibrelParse.h:400
nameless_obj__29              main.src:40
"""


def check_without_object_details(arguments):
    """The consumer scripts on a file without object details, and load_game()
    against vardex's Python mode on one where only some objects have them."""
    examples = arguments.source_dir / "examples"
    with tempfile.TemporaryDirectory(prefix="vardex-examples-") as temporary:
        compiler_written = Path(temporary) / "compiled.dbg"
        compiler_written.write_bytes(DEBUG_FILE_HEADER + b"".join(COMPILER_WRITTEN_FILE) + b"\0")
        status, out, err = run_script(examples / "load_objects.py", arguments,
                                      ["--vardex", arguments.vardex, compiler_written])
        expect(status == 0 and err == "", f"load_objects.py: status {status}: {err}")
        expect_equal(out, COMPILER_WRITTEN_TABLE, "table of a file without object details")

        status, out, err = run_script(examples / "room_map.py", arguments,
                                      ["--vardex", arguments.vardex, compiler_written])
        expect(status == 0 and 'label="Rooms of compiled.dbg: the file holds no exits";' in out and "->" not in out,
               f"room_map.py: status {status}, map:\n{out}")
        expect_equal(err, "room_map.py: compiled.dbg holds no exits (it has no object details records, "
                          "which compilers do not write), so the map has no rooms\n", "room_map.py's message")

        some_details = Path(temporary) / "some_details.dbg"
        records = list(COMPILER_WRITTEN_FILE)
        records.insert(3, record(15, 27, "Great Hall", (1, 11, 5), (0, 0, 0), "great", "hall", "",
                                 "\x01cellar", "\x0bgarden", ""))
        records.insert(6, record(15, 29, "lamp", (1, 41, 5), (1, 42, 5), "lamp", "", ""))
        some_details.write_bytes(DEBUG_FILE_HEADER + b"".join(records) + b"\0")
        sys.path.insert(0, str(examples))
        import load_objects
        game = load_objects.load_game(str(arguments.vardex), str(some_details))
        _, python_text, _ = run([arguments.vardex, "-python", some_details], input=b"\n*\n")
        namespace = {"qivobj": PythonModeObject}
        exec(python_text, namespace)
        expect_equal(describe_game([obj for obj in game.objects if obj.obj_has_details], game.sources,
                                   game.initialise, game.main_end),
                     describe_game(namespace["Zkelm_qivObjList"], namespace["Zkelm_qivSources"],
                                   namespace["Zkelm_qivSource_initialise"], namespace["Zkelm_qivSource_mainEnd"]),
                     "load_game() against Python mode")


class PythonModeObject:
    """The class that the text of vardex's Python mode calls; it sets the other members."""
    obj_with_line = obj_with_line_pos = obj_name_line = obj_name_line_pos = None


def describe_game(objects, *markers):
    members = ("obj_id", "obj_short_name", "obj_source", "obj_line", "obj_with_line", "obj_with_line_pos",
               "obj_name_line", "obj_name_line_pos", "obj_name_list", "obj_directions", "obj_is_room")
    return "".join(repr([getattr(obj, member) for member in members]) + "\n" for obj in objects) + repr(markers) + "\n"


# --- The examples of the README, docs/INTEGRATING.md and the manual page --

ELIDED = "..."


def output_lines(text):
    """The lines of a program's output, exactly, spaces at their ends included."""
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return lines


def readme_examples(readme):
    """(command, output lines) of every example in a document's indented blocks
    that shows a command after `$ `, with the lines shown below it; blank lines
    between indented lines belong to the block, as in Markdown."""
    examples = []
    current = None
    blank_lines = 0
    for line in readme.split("\n"):
        if line.startswith("    $ "):
            current = (line[len("    $ "):], [])
            examples.append(current)
        elif line.startswith("    ") and current is not None:
            current[1].extend([""] * blank_lines + [line[4:]])
        elif line == "" and current is not None:
            blank_lines += 1
            continue
        else:
            current = None
        blank_lines = 0
    return examples


def shown_output_matches(actual, shown):
    """Whether the output lines are those shown, where a line "..." stands for any lines."""
    pattern = "".join(r"(?:[^\n]*\n)*?" if line == ELIDED else re.escape(line) + "\n" for line in shown)
    return re.fullmatch(pattern, "".join(line + "\n" for line in actual)) is not None


# The documents whose examples are run: the guide, and the details for tool
# writers that it links to.
EXAMPLE_DOCUMENTS = ("README.md", "docs/INTEGRATING.md")


def run_pasted(commands, work, env):
    """Runs the commands one after another in one bash, as a user pastes them
    into a shell, so that what one leaves behind (a co-process, a function)
    is there for the next; returns the (output, errors) of each, and what the
    shell itself wrote on standard error."""
    script = []
    for number, command in enumerate(commands):
        out, err = (shlex.quote(str(work / f"example-{number}.{kind}")) for kind in ("out", "err"))
        # On lines of their own, so that a comment ends with the command.
        script.append(f"{{\n{command}\n}} >{out} 2>{err}\n")
    (work / "examples.sh").write_text("".join(script))
    _, _, shell_errors = run(["bash", work / "examples.sh"], cwd=work, env=env)
    results = []
    for number in range(len(commands)):
        out, err = (work / f"example-{number}.{kind}" for kind in ("out", "err"))
        results.append((out.read_text(errors="replace") if out.exists() else "",
                        err.read_text(errors="replace") if err.exists() else "(not run)"))
    return results, shell_errors


def check_readme_examples(arguments, of_symbolize=False):
    """Every `$ ` example of the README and docs/INTEGRATING.md, and the
    README's Python snippet, run from a directory that holds the examples,
    prints what is shown below it. They run in one shell, one after another
    and then all of them again, as pasted into a terminal twice: an example
    that leaves a co-process running, or needs one that an earlier example
    closed, fails. Those of symbolize.py run with its other checks."""
    if not of_symbolize:
        require_tool("dot")  # one example renders the room map
        require_tool("jq")  # one example filters JSON Lines with it
    documents = [(arguments.source_dir / name).read_text() for name in EXAMPLE_DOCUMENTS]
    examples = [example for document in documents for example in readme_examples(document)
                if ("symbolize.py" in example[0]) == of_symbolize]
    expect(len(examples) >= (1 if of_symbolize else 5), f"found only {len(examples)} examples in the documents")
    failures = []
    with tempfile.TemporaryDirectory(prefix="vardex-readme-") as work:
        work = Path(work)
        (work / "examples").symlink_to(arguments.source_dir.resolve() / "examples")
        (work / "build").mkdir()
        (work / "bin").mkdir()
        (work / "bin" / "vardex").symlink_to(arguments.vardex)
        env = environment_without_vardex(f"{work / 'bin'}{os.pathsep}{os.environ.get('PATH', '')}")
        twice = examples + examples
        results, shell_errors = run_pasted([command for command, _ in twice], work, env)
        for number, ((command, shown), (out, err)) in enumerate(zip(twice, results)):
            actual = output_lines(out)
            if err or not shown_output_matches(actual, shown):
                difference = "".join(difflib.unified_diff([line + "\n" for line in shown],
                                                          [line + "\n" for line in actual], "shown", "actual"))
                pasted = "the second time" if number >= len(examples) else "the first time"
                failures.append(f"$ {command}  (pasted {pasted})\n{difference}{err}")
        if shell_errors:
            failures.append(f"the shell wrote: {shell_errors}")
        if not of_symbolize:
            # The Python snippet, as the README says to run it.
            snippet = re.search(r"^```python\n(.*?)^```$", documents[0], re.MULTILINE | re.DOTALL)[1]
            status, out, err = run([sys.executable, "-c", snippet], cwd=work, env=env | {"PYTHONPATH": "examples"})
            if status != 0 or not out.startswith("hall rooms.src 4 {'n_to': 'cellar', 'in_to': 'garden'}\n"):
                failures.append(f"the Python snippet ended with status {status}:\n{out}{err}")
    expect(not failures, "examples differ from what they print:\n" + "\n".join(failures))


def sample_output_lines(vardex, source_dir):
    sample = source_dir / "examples" / "gameinfo.dbg"
    _, text, _ = run([vardex, "-all", sample])
    _, python, _ = run([vardex, "-python", sample], input=b"\n*\n")
    return set(output_lines(text) + output_lines(python))


def check_format_examples(arguments):
    """Every line that the output formats of docs/INTEGRATING.md and the
    manual's OUTPUT FORMAT show is a line that the sample prints; a line that
    ends with "..." is the start of one."""
    shown = []
    guide = (arguments.source_dir / "docs" / "INTEGRATING.md").read_text()
    formats = guide[guide.index("\n## Output formats\n"):]
    end = formats.find("\n## ", 1)
    formats = formats if end < 0 else formats[:end]
    shown += [("guide", line) for line in re.findall(r"^\|[^|]+\|[^|]+\| `(.+)` \|$", formats, re.MULTILINE)]
    shown += [("guide", line[4:]) for line in formats.split("\n") if line.startswith("    ")]
    manual = manual_text(arguments.source_dir).replace("\\|", "")
    formats = manual[manual.index('\n.SH "OUTPUT FORMAT"\n'):]
    formats = formats[:formats.index("\n.SH ", 1)]
    for block in re.findall(r"^\.EX\n(.*?)^\.EE$", formats, re.MULTILINE | re.DOTALL):
        shown += [("manual", line.rstrip()) for line in block.split("\n") if line]
    expect(len(shown) >= 40, f"found only {len(shown)} example lines")
    # The guide shows lines exactly; the manual's examples lose the spaces
    # that end some lines when they are rendered.
    printed = {"guide": sample_output_lines(arguments.vardex, arguments.source_dir)}
    printed["manual"] = {line.rstrip() for line in printed["guide"]}
    wrong = [f"{where}: {line}" for where, line in shown
             if not (line in printed[where] or line.endswith(" " + ELIDED)
                     and any(p.startswith(line[:-len(ELIDED)]) for p in printed[where]))]
    expect(not wrong, "example lines that the sample does not print:\n" + "\n".join(wrong))


CHECKS = {
    "packaging.install": check_install,
    "packaging.manual_renders": check_manual_renders,
    "packaging.manual_is_complete": check_manual_is_complete,
    "packaging.debian_package": check_debian_package,
    "examples.load_objects": check_load_objects,
    "examples.room_map": check_room_map,
    "examples.room_map_svg": check_room_map_svg,
    "examples.without_object_details": check_without_object_details,
    "examples.symbolize": check_symbolize,
    "docs.readme_examples": check_readme_examples,
    "docs.format_examples": check_format_examples,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=CHECKS)
    for option in ("vardex", "source-dir", "build-dir", "work-dir", "cmake", "cpack"):
        parser.add_argument("--" + option, type=Path, required=True)
    arguments = parser.parse_args()
    arguments.vardex = arguments.vardex.resolve()
    try:
        CHECKS[arguments.check](arguments)
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIPPED
    except CheckFailed as failure:
        print(f"FAILED: {failure}")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
