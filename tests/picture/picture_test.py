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
from html.parser import HTMLParser
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

        def as_descriptors_3_and_4():
            reading, writing = os.dup(commands[0]), os.dup(answers[1])
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        self.process = subprocess.Popen(
            [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--remote-debugging-pipe",
             f"--user-data-dir={work / 'profile'}", "--window-size=1200,1000"],
            pass_fds=(3, 4), preexec_fn=as_descriptors_3_and_4, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands[0])
        os.close(answers[1])
        self.commands, self.answers, self.unread, self.last, self.session = commands[1], answers[0], b"", 0, None

    def send(self, method, **params):
        self.last += 1
        os.write(self.commands, json.dumps({"id": self.last, "method": method, "params": params,
                                            **({"sessionId": self.session} if self.session else {})}).encode() + b"\0")
        while True:
            while b"\0" not in self.unread:
                self.unread += os.read(self.answers, 1 << 16) or fail("Chromium closed its pipe")
            message, self.unread = self.unread.split(b"\0", 1)
            answer = json.loads(message)
            if answer.get("id") == self.last:
                return answer["result"] if "error" not in answer else fail(f"{method}: {answer['error']}")

    def open(self, url):
        self.session = None
        target = self.send("Target.createTarget", url=url)["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for _ in range(300):
            if self.evaluate(f"location.href === {json.dumps(url)} && document.readyState === 'complete'"):
                return
            time.sleep(0.1)
        fail(f"{url} did not load")

    def evaluate(self, expression):
        answer = self.send("Runtime.evaluate", expression=expression, returnByValue=True)
        return answer.get("exceptionDetails") and fail(f"{expression}: {answer}") or answer["result"].get("value")

    def mouse(self, kind, at):
        self.send("Input.dispatchMouseEvent", type=kind, x=at[0], y=at[1], button="left", clickCount=1)

    def click(self, at):
        self.mouse("mousePressed", at)
        self.mouse("mouseReleased", at)


# A routine's name as markup, which the page must show as text.
HOSTILE = "</script><b>\"Parse'&amp;"
# The box of an element (its x, y, width and height), and the point at its
# centre on the screen.
BOX = """(box => {
  const on_screen = box.getBoundingClientRect();
  return [["x", "y", "width", "height"].map(a => +box.getAttribute(a)),
          [on_screen.x + on_screen.width / 2, on_screen.y + on_screen.height / 2]];
})"""


class RoutineNames(HTMLParser):
    def __init__(self, page):
        super().__init__()
        self.names = []
        self.feed(page)

    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        if tag == "rect" and attributes.get("class") in ("routine", "ghost"):
            self.names.append(attributes.get("data-name", ""))


def check_page_in(browser, page, text_report):
    source = page.read_text()
    if re.search(r"\b(?:src|href)\s*=|url\(|@import", source):
        fail("the page loads something from outside")
    browser.open(page.as_uri())
    view = lambda: [float(n) for n in browser.evaluate("document.querySelector('svg').getAttribute('viewBox')").split()]
    whole = view()
    box = lambda element: browser.evaluate(f"{BOX}({element})")
    file, at = box("document.querySelector('rect.file')")
    centre = box("document.querySelector('svg')")[1]
    section, section_at = box("[...document.querySelectorAll('rect.section')].sort((a, b) => b.width.baseVal.value - "
                              "a.width.baseVal.value)[0]")
    back = box("document.getElementById('back')")[1]
    escape = lambda: browser.send("Input.dispatchKeyEvent", type="keyDown", key="Escape", code="Escape",
                                  windowsVirtualKeyCode=27)
    for zoom_in, zoomed, zoom_out in ((at, file, lambda: browser.click(centre)), (at, file, escape),
                                      (section_at, section, lambda: browser.click(back))):
        browser.click(zoom_in)
        if view() != zoomed:
            fail(f"a click at {zoom_in} shows {view()}, not the box {zoomed}")
        zoom_out()
        if view() != whole:
            fail(f"zoomed out, the page shows {view()}, not {whole}")

    names = RoutineNames(source).names
    browser.evaluate("document.getElementById('search').focus()")
    for query in ("quibrel", "</SCRIPT>"):
        browser.evaluate("document.getElementById('search').select()")
        browser.send("Input.insertText", text=query)
        matches = sum(query.lower() in name.lower() for name in names)
        shown = browser.evaluate("[document.getElementById('count').textContent, "
                                 "document.querySelectorAll('rect.match').length]")
        if matches == 0 or shown != [f"{matches} routine{' matches' if matches == 1 else 's match'}", matches]:
            fail(f"searching {query!r} shows {shown}, with {matches} routines named so")

    routine = f"[...document.querySelectorAll('rect.routine')].find(r => r.dataset.name === {json.dumps(HOSTILE)})"
    # On its label, if it has one: a label hides no box.
    browser.mouse("mouseMoved", box(f"[...document.querySelectorAll('svg text')].find(t => {{ const label = "
                                    f"t.getBoundingClientRect(), b = {routine}.getBoundingClientRect(); return "
                                    f"label.left >= b.left && label.right <= b.right && label.top >= b.top && "
                                    f"label.bottom <= b.bottom; }}) || {routine}")[1])
    info, title = browser.evaluate(f"[document.getElementById('info').textContent, {routine}.textContent]")
    if info != title or not info.startswith(HOSTILE + ":"):
        fail(f"hovering {HOSTILE!r} shows {info!r}, not its tooltip {title!r}")
    if browser.evaluate("document.querySelectorAll('b').length") != 0:
        fail("a routine's name made markup")
    tables = browser.evaluate("document.getElementById('tables').innerText")
    if [line.split() for line in tables.splitlines() if line.strip()] != \
            [line.split() for line in text_report.decode().splitlines() if line.strip()]:
        fail(f"the page's tables are not the text report's:\n{tables}")


def check_page(arguments):
    chromium()
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as work:
        work = Path(work)
        examples = arguments.source_dir / "examples"
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
