// The page is constant text around the picture and the tables: its script
// reads the picture only through the classes and data-name attributes of
// its boxes, their <title> tooltips and the groups of a file and a section.
#include "stats/size_page.h"

#include <string_view>

#include "stats/size_picture.h"

namespace {

constexpr std::string_view opening = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width">
<title>Size profile</title>
<style>
body { margin: 0; font: 13px sans-serif; }
#bar { position: sticky; top: 0; z-index: 1; display: flex; gap: 12px; align-items: center;
       padding: 6px 8px; background: #f4f4f4; border-bottom: 1px solid #c8c8c8; }
#info { flex: 1; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
#picture svg { display: block; width: 100%; height: auto; max-height: calc(100vh - 40px); }
#picture text { pointer-events: none; }
#picture .file-group, #picture .section-group, #picture rect.section, #picture rect.file { cursor: zoom-in; }
#picture rect.match { stroke: #000000; stroke-width: 2px; vector-effect: non-scaling-stroke; }
#picture svg.searching rect.routine:not(.match),
#picture svg.searching rect.ghost:not(.match) { fill-opacity: 0.25; }
#tables { padding: 8px; font: 12px monospace; white-space: pre; }
table { border-collapse: collapse; margin: 2px 0; font: 12px monospace; }
th, td { padding: 1px 8px; text-align: left; white-space: pre; }
th { border-bottom: 1px solid #888888; }
th.r, td.r { text-align: right; }
</style>
</head>
<body>
<div id="bar">
<button id="back" type="button" disabled>Back</button>
<input id="search" type="search" placeholder="Find routines" aria-label="Find routines">
<span id="count"></span>
<span id="info">Click a section or a source file to zoom in, again or Escape to zoom out</span>
</div>
<div id="picture">
)";

constexpr std::string_view closing = R"(</div>
<script>
"use strict";
(() => {
  const svg = document.querySelector("#picture svg");
  const back = document.getElementById("back"), search = document.getElementById("search");
  const count = document.getElementById("count"), info = document.getElementById("info");
  const whole = svg.getAttribute("viewBox"), hint = info.textContent;
  const [, , width, height] = whole.trim().split(/[\s,]+/).map(Number);
  svg.style.aspectRatio = width + " / " + height;  // the box stays as it is while zoomed
  let zoomed = null;
  function zoom(box) {
    zoomed = box;
    svg.setAttribute("viewBox", box ? ["x", "y", "width", "height"].map(a => box.getAttribute(a)).join(" ") : whole);
    back.disabled = !box;
  }
  // What a click zooms into: the box of the source file or section it falls in.
  function zoomable(target) {
    const group = target.closest(".file-group, .section-group");
    if (group) return group.querySelector(":scope > rect.file, :scope > rect.section");
    return target.matches("rect.file, rect.section") ? target : null;
  }
  svg.addEventListener("click", event => {
    const box = zoomable(event.target);
    zoom(box === zoomed ? null : box);
  });
  back.addEventListener("click", () => zoom(null));
  document.addEventListener("keydown", event => {
    if (event.key === "Escape") zoom(null);
  });
  const routines = svg.querySelectorAll("rect.routine, rect.ghost");
  search.addEventListener("input", () => {
    const text = search.value.toLowerCase();
    let matches = 0;
    for (const rect of routines) {
      const match = text !== "" && (rect.getAttribute("data-name") || "").toLowerCase().includes(text);
      rect.classList.toggle("match", match);
      matches += match;
    }
    svg.classList.toggle("searching", text !== "");
    count.textContent = text === "" ? "" : matches + (matches === 1 ? " routine matches" : " routines match");
  });
  svg.addEventListener("mouseover", event => {
    const title = event.target.closest("rect")?.querySelector(":scope > title");
    info.textContent = title ? title.textContent : hint;
  });
  svg.addEventListener("mouseleave", () => { info.textContent = hint; });
})();
</script>
</body>
</html>
)";

}  // namespace

void put_page_opening(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes, std::string_view path,
                      std::string_view old_path) {
    out.put(opening);
    print_size_picture(out, profile, changes, path, old_path);
    out.put("</div>\n<div id=\"tables\">\n");
}

void put_page_closing(OutputWriter& out) { out.put(closing); }
