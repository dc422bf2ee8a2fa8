#!/usr/bin/env python3
"""The size profile's picture (-stats -svg) of the sample game, checked as a
user meets it: the SVG under docs/ is what the build's own command writes;
its rectangles agree with the report (every routine of a pixel or more
present, areas proportional to bytes within 1%, the rest counted in groups);
and it renders in a real browser, headless Chromium, to an image of the
picture's size that is not blank.

Exit status: 0 passed, 1 failed, 77 skipped (no Chromium)."""
import argparse
import json
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

SKIPPED = 77
SVG = "{http://www.w3.org/2000/svg}"
DOCS_PICTURE = "docs/tale-size-profile.svg"


def fail(message):
    print("FAILED:", message)
    sys.exit(1)


def run(command):
    return subprocess.run([str(part) for part in command], capture_output=True, check=True, timeout=120).stdout


def check_matches_report(arguments):
    sample = arguments.source_dir / "examples" / "tale.dbg"
    picture = run([arguments.vardex, "-stats", "-svg", sample])
    if picture != (arguments.source_dir / DOCS_PICTURE).read_bytes():
        fail(f"{DOCS_PICTURE} is not what `vardex -stats -svg examples/tale.dbg` writes; write it again")
    report = json.loads(run([arguments.vardex, "-stats", "-json", sample]))
    root = ET.fromstring(picture)
    width, height = float(root.get("width")), float(root.get("height"))
    rects = {kind: [] for kind in ("routine", "small", "file")}
    for rect in root.iter(SVG + "rect"):
        if rect.get("class") in rects:
            area = float(rect.get("width")) * float(rect.get("height"))
            rects[rect.get("class")].append((rect.find(SVG + "title").text, area))
    total = report["code"]["bytes"]
    pixels_per_byte = 1200 * 800 / total

    def check_areas(kind, pattern):
        for title, area in rects[kind]:
            found = re.match(pattern, title)
            if not found:
                fail(f"a {kind} rectangle's tooltip is {title!r}")
            expected = int(found.group("bytes")) * pixels_per_byte
            if abs(area - expected) > 0.01 * expected + 0.05:
                fail(f"{title!r}: area {area:.2f}, not {expected:.2f} pixels")

    check_areas("routine", r"(?P<name>.*): (?P<bytes>\d+) bytes \(\d+\.\d%\) (?P<path>.*):\d+$")
    check_areas("file", r"(?P<path>.*): (?P<bytes>\d+) bytes \(\d+\.\d%\)$")
    check_areas("small", r"\d+ small routines: (?P<bytes>\d+) bytes$")
    shown = sorted(re.match(r"(.*): \d+ bytes", title).group(1) for title, _ in rects["routine"])
    large = sorted(r["name"] for r in report["routines"] if r["bytes"] * pixels_per_byte >= 1)
    if shown != large:
        fail(f"routines of the report missing from the picture: {sorted(set(large) - set(shown))}")
    grouped = sum(int(title.split()[0]) for title, _ in rects["small"])
    if grouped + len(shown) != report["code"]["routines"]:
        fail(f"{grouped} grouped and {len(shown)} shown routines, of {report['code']['routines']}")
    if (width, height) != (1200, 872):
        fail(f"the picture is {width} x {height}")


def png_size(path):
    """(width, height, bytes of compressed pixels) of a PNG: a blank page of
    one colour compresses to a few hundred bytes, a picture to tens of KB."""
    data = path.read_bytes()
    width, height = struct.unpack(">II", data[16:24])
    pixels, at = 0, 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        pixels += length if kind == b"IDAT" else 0
        at += 12 + length
    return width, height, pixels


def check_renders(arguments):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIPPED: no chromium on PATH (tools/setup tests installs Debian's chromium)")
        return SKIPPED
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        svg = work / "tale.svg"
        svg.write_bytes(run([arguments.vardex, "-stats", "-svg", arguments.source_dir / "examples" / "tale.dbg"]))
        screenshot = work / "tale.png"
        subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        f"--user-data-dir={work / 'profile'}", f"--screenshot={screenshot}",
                        "--window-size=1200,872", svg.as_uri()], capture_output=True, timeout=120)
        if not screenshot.exists():
            fail("Chromium wrote no screenshot")
        width, height, pixels = png_size(screenshot)
        if (width, height) != (1200, 872):
            fail(f"the screenshot is {width} x {height}, not 1200 x 872")
        if pixels < 20000:
            fail(f"the screenshot's pixels compress to {pixels} bytes: it is blank")
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["picture.matches_report", "picture.renders"])
    parser.add_argument("--vardex", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    arguments = parser.parse_args()
    if arguments.check == "picture.matches_report":
        return check_matches_report(arguments) or 0
    return check_renders(arguments)


if __name__ == "__main__":
    sys.exit(main())
