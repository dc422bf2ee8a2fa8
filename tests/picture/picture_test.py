#!/usr/bin/env python3
"""The size profile's picture (-stats -svg) of the sample game, checked as a
user meets it: the SVG under docs/ is what the build's own command writes;
its rectangles agree with the report (every routine of a pixel or more
present, areas proportional to bytes within 1%, the rest counted in groups);
and it renders in a real browser, headless Chromium, to an image of the
picture's size that is not blank. The page (-html) is driven in Chromium as
a user would: zoomed, searched, hovered, its tables read.

Exit status: 0 passed, 1 failed, 77 skipped (no Chromium)."""
import argparse
import html
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
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


def chromium():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIPPED: no chromium on PATH (tools/setup tests installs Debian's chromium)")
        sys.exit(SKIPPED)
    return browser


def check_renders(arguments):
    browser = chromium()
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


class Browser:
    """Headless Chromium driven over the DevTools protocol on a pipe
    (--remote-debugging-pipe): commands go in on descriptor 3, answers and
    events come out on 4, each a JSON text ended by a 0 byte."""

    def __init__(self, work):
        commands, answers = os.pipe(), os.pipe()
        self.process = subprocess.Popen(
            [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-pipe",
             f"--user-data-dir={work / 'profile'}", "--window-size=1200,1000"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(3, 4),
            preexec_fn=lambda: [os.dup2(end, n) for n, end in enumerate([os.dup(commands[0]), os.dup(answers[1])], 3)])
        os.close(commands[0])
        os.close(answers[1])
        self.commands, self.answers, self.unread, self.last, self.page = commands[1], answers[0], b"", 0, {}

    def send(self, method, **params):
        self.last += 1
        message = {"id": self.last, "method": method, "params": params, **self.page}
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.unread:
                self.unread += os.read(self.answers, 1 << 16) or fail("Chromium closed its pipe")
            message, self.unread = self.unread.split(b"\0", 1)
            answer = json.loads(message)
            if answer.get("id") == self.last:
                return fail(f"{method}: {answer}") if "error" in answer else answer["result"]

    def open(self, url):
        self.page = {}
        target = self.send("Target.createTarget", url=url)["targetId"]
        self.page = {"sessionId": self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]}
        while not self.evaluate(f"location.href === {json.dumps(url)} && document.readyState === 'complete'"):
            time.sleep(0.1)

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        return fail(f"{expression}: {answer}") if "exceptionDetails" in answer else answer["result"].get("value")

    def mouse(self, at, *kinds):
        for kind in kinds:
            self.send("Input.dispatchMouseEvent", type=kind, x=at[0], y=at[1], button="left", clickCount=1)


# A routine's name as markup, which the page must show as text.
HOSTILE = "</script><b>\"Parse'&amp;"
# An element's box (x, y, width, height) and the point at its centre on the screen.
BOX = """(box => { const s = box.getBoundingClientRect();
  return [["x", "y", "width", "height"].map(a => +box.getAttribute(a)), [s.x + s.width / 2, s.y + s.height / 2]]; })"""


def check_page_in(browser, page, text_report):
    source = page.read_text()
    if re.search(r"\b(?:src|href)\s*=|url\(|@import", source):
        fail("the page loads something from outside")
    browser.open(page.as_uri())
    box = lambda element: browser.evaluate(f"{BOX}({element})")
    view = lambda: [float(n) for n in browser.evaluate("document.querySelector('svg').getAttribute('viewBox')").split()]
    whole, (file, at), centre = view(), box("document.querySelector('rect.file')"), box("document.querySelector('svg')")
    section = box("[...document.querySelectorAll('rect.section')].sort((a, b) => b.width.baseVal.value - "
                  "a.width.baseVal.value)[0]")
    escape = {"type": "keyDown", "key": "Escape", "code": "Escape", "windowsVirtualKeyCode": 27}
    for (zoomed, zoom_in), zoom_out in (((file, at), lambda: browser.mouse(centre[1], "mousePressed", "mouseReleased")),
                                        ((file, at), lambda: browser.send("Input.dispatchKeyEvent", **escape)),
                                        (section, lambda: browser.mouse(box("document.getElementById('back')")[1],
                                                                        "mousePressed", "mouseReleased"))):
        browser.mouse(zoom_in, "mousePressed", "mouseReleased")
        shown = view()
        zoom_out()
        if shown != zoomed or view() != whole:
            fail(f"a click at {zoom_in} shows {shown}, not {zoomed}, and then {view()}, not {whole}")

    names = [html.unescape(dict(re.findall(r'([\w-]+)="([^"]*)"', rect)).get("data-name", ""))
             for rect in re.findall(r"<rect\b[^>]*>", source) if re.search(r'class="(routine|ghost)"', rect)]
    browser.evaluate("document.getElementById('search').focus()")
    for query in ("quibrel", "</SCRIPT>"):
        browser.evaluate("document.getElementById('search').select()")
        browser.send("Input.insertText", text=query)
        matches = sum(query.lower() in name.lower() for name in names)
        shown = browser.evaluate("[document.getElementById('count').textContent, "
                                 "document.querySelectorAll('rect.match').length]")
        if matches == 0 or shown != [f"{matches} routine{' matches' if matches == 1 else 's match'}", matches]:
            fail(f"searching {query!r} shows {shown}, with {matches} routines named so")

    # On the routine's label if it has one (a label hides no box), else its middle.
    routine = f"[...document.querySelectorAll('rect.routine')].find(r => r.dataset.name === {json.dumps(HOSTILE)})"
    browser.mouse(box(f"[...document.querySelectorAll('svg text')].find(t => {{ const l = t.getBoundingClientRect(), "
                      f"r = {routine}.getBoundingClientRect(); return l.left >= r.left && l.right <= r.right && "
                      f"l.top >= r.top && l.bottom <= r.bottom; }}) || {routine}")[1], "mouseMoved")
    info, title = browser.evaluate(f"[document.getElementById('info').textContent, {routine}.textContent]")
    if info != title or not info.startswith(HOSTILE + ":") or browser.evaluate("document.querySelector('b')"):
        fail(f"hovering {HOSTILE!r} shows {info!r}, not its tooltip {title!r}, or it made markup")
    tables = browser.evaluate("document.getElementById('tables').innerText")
    words = lambda text: [line.split() for line in text.splitlines() if line.strip()]
    if words(tables) != words(text_report.decode()):
        fail(f"the page's tables are not the text report's:\n{tables}")


def check_page(arguments):
    chromium()
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as work:
        work, examples = Path(work), arguments.source_dir / "examples"
        build = work / "tale.dbg"
        build.write_bytes((examples / "tale.dbg").read_bytes().replace(b"Parse__command\0", HOSTILE.encode() + b"\0"))
        browser = Browser(work)
        try:
            for name, switches in (("one build", ["-stats"]), ("changes", [f"-diff={examples / 'tale-old.dbg'}"])):
                print("The page of", name)
                page = work / "page.html"
                page.write_bytes(run([arguments.vardex, "-html", *switches, build]))
                check_page_in(browser, page, run([arguments.vardex, *switches, build]))
        finally:
            browser.process.terminate()
            browser.process.wait(timeout=60)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["picture.matches_report", "picture.renders", "picture.page"])
    parser.add_argument("--vardex", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    arguments = parser.parse_args()
    if arguments.check == "picture.matches_report":
        return check_matches_report(arguments) or 0
    return check_renders(arguments) if arguments.check == "picture.renders" else check_page(arguments)


if __name__ == "__main__":
    sys.exit(main())
