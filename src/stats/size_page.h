// -html: the size profile as one self-contained web page: the picture, which
// zooms into a section or a source file and finds routines by name, and
// below it the text's tables; its style and script stand inline.
#pragma once

#include "output_writer.h"
#include "stats/size_changes.h"
#include "stats/size_profile.h"

// Writes the page up to its tables: the controls and the picture of
// `profile` (with `changes`, as print_size_picture draws it, naming the
// builds by `path` and `old_path`).
void put_page_opening(OutputWriter& out, const SizeProfile& profile, const SizeChanges* changes, std::string_view path,
                      std::string_view old_path);

// Writes the rest of the page after its tables: the script.
void put_page_closing(OutputWriter& out);
