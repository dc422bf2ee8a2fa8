#!/usr/bin/env python3
"""The size profile's pictures (-stats -svg, and -svg -diff=OLD) of the sample
game, checked as a user meets them: the SVG under docs/ is what the build's
own command writes; the boxes keep the contract a page builds on; the
picture of one build agrees with the report (sections and routines at areas
proportional to bytes within 1%, every routine of a box big enough drawn,
the rest counted in groups, every box of 80 by 40 or more labelled with its
name and bytes); the comparison agrees with the report's rows
(each routine at the larger of its sizes, coloured by its change, the removed
ones as ghosts, every tooltip OLD -> NEW); and both render in a real browser,
headless Chromium, at the width of its window, with every label inside its
box and every box under the pointer where it is drawn. The page (-html) is
driven in Chromium as a user would: zoomed, searched, hovered, its tables
read.

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
SAMPLE, OLD_SAMPLE = "examples/tale.dbg", "examples/tale-old.dbg"
KINDS = {"section", "file", "routine", "small", "ghost", "left"}
NAMED = {"section", "file", "routine", "ghost"}
TREEMAP_AREA = 1200 * 800
SMALLEST_BOX = 160
# Shrunk by 50% or more, 10-50%, less; unchanged; grown likewise; new; removed.
SHADES = ["#1b7837", "#7fbf7b", "#d9f0d3", "#e0e0e0", "#fddbc7", "#ef8a62", "#b2182b", "#6f8fcf", "#f7f7f7"]
SHADE_NAMES = ["shrunk 50% or more", "shrunk 10-50%", "shrunk <10%", "unchanged", "grown <10%", "grown 10-50%",
               "grown 50% or more", "new", "removed"]


def fail(message):
    print("FAILED:", message)
    sys.exit(1)


def run(arguments, *command):
    """vardex's output, run in the source directory as its docs show it."""
    return subprocess.run([str(arguments.vardex), *command], cwd=arguments.source_dir, capture_output=True,
                          check=True, timeout=120).stdout


def title(rect):
    return rect.find(SVG + "title").text


def check_contract(root, compared):
    """What the page that embeds the picture relies on."""
    if not root.get("viewBox", "").startswith("0 0 1200 ") or root.get("width") != "100%" or "height" in root.attrib:
        fail(f"the picture does not follow its window: {root.attrib}")
    for rect in root.iter(SVG + "rect"):
        kind = rect.get("class")
        if kind not in KINDS or rect.find(SVG + "title") is None:
            fail(f"a rect of class {kind!r} or without a title: {rect.attrib}")
        if kind in NAMED and rect.get("data-name") is None:
            fail(f"a {kind} without data-name: {title(rect)}")
        if kind in NAMED and compared != ("data-old" in rect.attrib and "data-new" in rect.attrib):
            fail(f"data-old and data-new {'missing' if compared else 'present'}: {title(rect)}")
    for group in root.iter(SVG + "g"):
        rects = group.findall(SVG + "rect")
        if group.get("class") == "file-group" and (rects[-1].get("class") not in ("file", "ghost") or any(
                r.get("class") not in ("routine", "ghost", "small") for r in rects[:-1])):
            fail(f"a file group of {[r.get('class') for r in rects]}")
        if group.get("class") == "section-group" and (len(rects) != 1 or rects[0].get("class") not in ("section", "ghost")):
            fail(f"a section group of {[r.get('class') for r in rects]}")
    for text in root.iter(SVG + "text"):
        if text.get("pointer-events") != "none":
            fail(f"a text that takes the pointer: {text.text}")
    routines_outside = [r for r in root.findall(SVG + "g/" + SVG + "rect") + root.findall(SVG + "rect")
                        if r.get("class") == "routine"]
    if routines_outside:
        fail(f"routines outside a file group: {[title(r) for r in routines_outside]}")


def check_matches_report(arguments):
    picture = run(arguments, "-stats", "-svg", SAMPLE)
    if picture != (arguments.source_dir / DOCS_PICTURE).read_bytes():
        fail(f"{DOCS_PICTURE} is not what `vardex -stats -svg {SAMPLE}` writes; write it again")
    report = json.loads(run(arguments, "-stats", "-json", SAMPLE))
    root = ET.fromstring(picture)
    check_contract(root, False)
    story = report["story"]
    heading = "".join(root.find(SVG + "text").itertext()) + " " + "".join(root.findall(SVG + "text")[1].itertext())
    if f"{SAMPLE} story file {story['bytes']} bytes of {story['limit']}" not in heading:
        fail(f"the title names neither the file nor the story's size and limit: {heading!r}")
    pixels_per_byte = TREEMAP_AREA / story["bytes"]
    rects = {kind: [r for r in root.iter(SVG + "rect") if r.get("class") == kind] for kind in KINDS}
    for rect in rects["section"] + rects["file"] + rects["routine"] + rects["small"]:
        expected = int(re.search(r"(\d+) bytes", title(rect)).group(1)) * pixels_per_byte
        # Coordinates are written to a tenth.
        slack = 0.01 * expected + 0.05 * (float(rect.get("width")) + float(rect.get("height"))) + 0.01
        if abs(float(rect.get("width")) * float(rect.get("height")) - expected) > slack:
            fail(f"{title(rect)!r}: {rect.get('width')} x {rect.get('height')}, not {expected:.2f}")
    sections = sorted((r.get("data-name"), re.search(r": (\d+) bytes", title(r)).group(1)) for r in rects["section"])
    expected = sorted([("(header)", str(report["sections"][0]["address"]))] + [
        (s["name"], str(s["size"])) for s in report["sections"] if s["size"]])
    if sections != expected:
        fail(f"sections {sections}, not {expected}")
    shown = sorted(r.get("data-name") for r in rects["routine"])
    large = sorted(r["name"] for r in report["routines"] if r["bytes"] * pixels_per_byte >= SMALLEST_BOX)
    if shown != large:
        fail(f"routines of the report missing from the picture: {sorted(set(large) - set(shown))}")
    grouped = sum(int(title(r).split()[0]) for r in rects["small"])
    if grouped + len(shown) != report["code"]["routines"]:
        fail(f"{grouped} grouped and {len(shown)} shown routines, of {report['code']['routines']}")


def shade_of(old, new):
    if new is None:
        return 8
    if old is None:
        return 7
    change = new - old
    if change == 0:
        return 3
    step = 0 if abs(change) * 10 < old else 1 if abs(change) * 2 < old else 2
    return 2 - step if change < 0 else 4 + step


def figures(old, new):
    """A tooltip's figures up to the change."""
    change = (new or 0) - (old or 0)
    return f"{'-' if old is None else old} \u2192 {'-' if new is None else new} bytes ({f'{change:+d}' if change else '0'}"


def check_compares(arguments):
    picture = run(arguments, "-svg", f"-diff={OLD_SAMPLE}", SAMPLE)
    report = json.loads(run(arguments, "-json", f"-diff={OLD_SAMPLE}", SAMPLE))
    root = ET.fromstring(picture)
    check_contract(root, True)
    texts = ["".join(t.itertext()) for t in root.iter(SVG + "text")]
    old_story, new_story = report["story"]["old"]["bytes"], report["story"]["new"]["bytes"]
    if texts[0] != f"{SAMPLE} since {OLD_SAMPLE}" or f"({new_story - old_story:+d})" not in texts[1]:
        fail(f"the title gives neither the builds nor the story's change: {texts[:2]}")
    if any(name not in texts for name in SHADE_NAMES):
        fail(f"the legend lacks some of {SHADE_NAMES}")
    by_name = {}
    for rect in root.iter(SVG + "rect"):
        by_name.setdefault((rect.get("class"), rect.get("data-name")), rect)
    # Each section at the larger of its sizes.
    tops = [g.find(SVG + "rect") for g in root.iter(SVG + "g") if g.get("class") == "section-group"]
    pixels_per_byte = TREEMAP_AREA / sum(max(int(r.get("data-old") or 0), int(r.get("data-new") or 0)) for r in tops)
    changed = set()
    for row in report["routines"]:
        old, new = row["old"], row["new"]
        changed.add(row["name"])
        rect = by_name.get(("ghost" if new is None else "routine", row["name"]))
        if rect is None:
            if max(old or 0, new or 0) * pixels_per_byte >= SMALLEST_BOX:
                fail(f"{row['name']} ({old} -> {new}) is not drawn")
            continue
        if rect.get("fill") != SHADES[shade_of(old, new)] or not title(rect).startswith(
                f"{row['name']}: {figures(old, new)}"):
            fail(f"{row['name']} ({old} -> {new}) is drawn {rect.get('fill')} with {title(rect)!r}")
        if (rect.get("data-old"), rect.get("data-new")) != (str(old or ""), str(new or "")):
            fail(f"{row['name']} has data {rect.get('data-old')!r}, {rect.get('data-new')!r}")
        if new is None and rect.get("stroke-dasharray") is None:
            fail(f"the ghost of {row['name']} has no dashed outline")
    for rect in root.iter(SVG + "rect"):
        if rect.get("class") == "routine" and rect.get("data-name") not in changed and (
                rect.get("fill") != SHADES[3] or rect.get("data-old") != rect.get("data-new")):
            fail(f"unchanged {title(rect)!r} drawn {rect.get('fill')}")
    for row in report["files"] + report["sections"]:
        kinds = ("file", "section") if row["new"] is not None else ("ghost",)
        rect = next((by_name[(k, row["name"])] for k in kinds if (k, row["name"]) in by_name), None)
        if rect is None or not title(rect).startswith(f"{row['name']}: {figures(row['old'], row['new'])}"):
            fail(f"{row['name']} ({row['old']} -> {row['new']}) is not drawn as it changed")


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


# Run in the page that holds the picture: what the browser shows of it.
SHOWN = """<script>
window.onerror = message => { document.body.dataset.result = JSON.stringify({problems: [message]}); };
const svg = document.querySelector('svg'), problems = [];
const box = svg.getBoundingClientRect(), view = svg.viewBox.baseVal;
if (Math.abs(box.width - document.documentElement.clientWidth) > 1 || Math.abs(box.height - box.width * view.height / view.width) > 1)
  problems.push(`drawn ${box.width} x ${box.height} in a window ${innerWidth} wide`);
let labels = 0, boxes = 0;
const labelled = new Set();
for (const text of svg.querySelectorAll('text')) {
  let owner = text.previousElementSibling;
  if (owner && owner.tagName === 'g') owner = text.parentNode.querySelector('rect');
  if (!owner || owner.tagName !== 'rect') continue;
  const t = text.getBBox(), r = owner.getBBox();
  labels++;
  const bytes = owner.querySelector('title').textContent.match(/(\d+) bytes/);  // the new where there are two
  if (bytes && text.textContent.includes(' ' + bytes[1])) labelled.add(owner);
  if (t.x + t.width > r.x + r.width + 0.5 || t.y + t.height > r.y + r.height + 1)
    problems.push(`label ${text.textContent} (${t.width.toFixed(1)} wide) leaves its box of ${r.width.toFixed(1)}`);
}
// Every box of 80 by 40 or more shows its name, shortened where it must be, and its bytes.
for (const rect of svg.querySelectorAll('.routine, .section, .file'))
  if (rect.getBBox().width >= 80 && rect.getBBox().height >= 40 && !labelled.has(rect))
    problems.push(`${rect.dataset.name} has no label with its bytes`);
for (const rect of svg.querySelectorAll('rect')) {
  const leaf = rect.matches('.routine, .small, .left, .file-group > .ghost:not(:last-of-type)') ||
               (rect.matches('.section-group > rect') && !rect.parentNode.querySelector('g'));
  const r = rect.getBoundingClientRect();
  if (!leaf || r.width < 4 || r.height < 4 || r.bottom > innerHeight) continue;
  boxes++;
  const under = document.elementFromPoint(r.x + r.width / 2, r.y + r.height / 2);
  if (under !== rect)
    problems.push(`${rect.querySelector('title').textContent}: the pointer finds ${under && under.outerHTML.slice(0, 60)}`);
}
document.body.dataset.result = JSON.stringify({problems, labels, boxes});
</script>"""


def shown_in_browser(browser, work, picture, width):
    page = work / f"page{width}.html"
    page.write_bytes(b'<!doctype html><meta charset="utf-8"><body style="margin:0">' + picture + SHOWN.encode())
    dom = subprocess.run([browser, *BROWSER_SWITCHES, f"--user-data-dir={work / 'profile'}",
                          f"--window-size={width},1000", "--dump-dom", page.as_uri()],
                         capture_output=True, text=True, timeout=120).stdout
    found = re.search(r'data-result="([^"]*)"', dom)
    if not found:
        fail(f"Chromium ran no check of the page {width} wide")
    return json.loads(html.unescape(found.group(1)))


BROWSER_SWITCHES = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def chromium():
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        print("SKIPPED: no chromium on PATH (tools/setup tests installs Debian's chromium)")
    return browser


def check_renders(arguments):
    browser = chromium()
    if browser is None:
        return SKIPPED
    with tempfile.TemporaryDirectory() as work:
        work = Path(work)
        pictures = {"one build": run(arguments, "-stats", "-svg", SAMPLE),
                    "comparison": run(arguments, "-svg", f"-diff={OLD_SAMPLE}", SAMPLE)}
        for name, picture in pictures.items():
            for width in (1200, 700):
                shown = shown_in_browser(browser, work, picture, width)
                if shown["problems"] or shown["labels"] < 100 or shown["boxes"] < 100:
                    fail(f"the {name} picture {width} wide, {shown['labels']} labels and {shown['boxes']} boxes "
                         f"checked: {shown['problems'][:10]}")
        svg = work / "tale.svg"
        svg.write_bytes(pictures["one build"])
        screenshot = work / "tale.png"
        subprocess.run([browser, *BROWSER_SWITCHES, f"--user-data-dir={work / 'profile'}",
                        f"--screenshot={screenshot}", "--window-size=1200,912", svg.as_uri()],
                       capture_output=True, timeout=120)
        if not screenshot.exists():
            fail("Chromium wrote no screenshot")
        width, height, pixels = png_size(screenshot)
        if (width, height) != (1200, 912):
            fail(f"the screenshot is {width} x {height}, not 1200 x 912")
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
    if chromium() is None:
        return SKIPPED
    with tempfile.TemporaryDirectory(ignore_cleanup_errors=True) as work:
        work, examples = Path(work), arguments.source_dir / "examples"
        build = work / "tale.dbg"
        build.write_bytes((examples / "tale.dbg").read_bytes().replace(b"Parse__command\0", HOSTILE.encode() + b"\0"))
        browser = Browser(work)
        try:
            for name, switches in (("one build", ["-stats"]), ("changes", [f"-diff={examples / 'tale-old.dbg'}"])):
                print("The page of", name)
                page = work / "page.html"
                page.write_bytes(run(arguments, "-html", *switches, build))
                check_page_in(browser, page, run(arguments, *switches, build))
        finally:
            browser.process.terminate()
            browser.process.wait(timeout=60)
    return 0


CHECKS = {"picture.matches_report": check_matches_report, "picture.compares": check_compares,
          "picture.renders": check_renders, "picture.page": check_page}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=CHECKS)
    parser.add_argument("--vardex", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    arguments = parser.parse_args()
    arguments.vardex = arguments.vardex.resolve()
    return CHECKS[arguments.check](arguments) or 0


if __name__ == "__main__":
    sys.exit(main())
