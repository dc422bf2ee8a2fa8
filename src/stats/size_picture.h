// -svg: the size profile as one self-contained SVG picture.
#pragma once

#include "output_writer.h"
#include "stats/size_changes.h"
#include "stats/size_profile.h"

// The picture's size, and the treemap's within it.
constexpr int picture_width = 1200;
constexpr int treemap_height = 800;

// Writes the picture of `profile`: a strip of the story's sections and the
// room left to its limit, then a squarified treemap of the code, one
// rectangle per source file holding one per routine (those of less than a
// pixel grouped per file), each with its tooltip. With `changes`, the
// routines are coloured by their change since the old build.
void print_size_picture(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes);
