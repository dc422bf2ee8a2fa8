// -svg: the size profile as one self-contained SVG picture.
#pragma once

#include <string_view>

#include "output_writer.h"
#include "stats/size_changes.h"
#include "stats/size_profile.h"

// The picture's width and its treemap's height, in the units of its viewBox:
// it is drawn at the width of its window.
constexpr int picture_width = 1200;
constexpr int treemap_height = 800;

// Writes the picture of `profile`, read from `path`: a title with the story's
// size and limit, a gauge of the room left, then a squarified treemap of the
// story, a rectangle per section of its memory map, the code area's holding
// one per source file and those one per routine (the routines too small to
// draw grouped per file). Where the sections cannot be sized, the treemap is
// of the code alone and the title says why. Every rectangle has a tooltip and,
// where it fits, a label with its bytes.
//
// With `changes` since the build read from `old_path`, every entry is drawn
// at the larger of its sizes, the removed ones as ghosts, and coloured by its
// change relative to its old size.
//
// What a page builds on: each box is a <rect> of class section, file,
// routine, small, ghost or left; those of a section, file, routine or ghost
// carry data-name (and with changes data-old and data-new, in bytes, empty
// where the entry is not); each holds its <title>. A file's rectangle and its
// routines' stand in a <g class="file-group">, a section's in a
// <g class="section-group">; labels are <text pointer-events="none">.
void print_size_picture(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes,
                        std::string_view path, std::string_view old_path = "");
