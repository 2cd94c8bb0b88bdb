// What the editor shows its own tests: how many values an edit holds for
// the look-ups made since its last change.
#ifndef VLX_INITFILE_EDITOR_INTERNAL_H
#define VLX_INITFILE_EDITOR_INTERNAL_H

#include <stddef.h>

#include "initfile/initfile.h"

// The number of values edit holds: at most one per entry looked up.
size_t count_held_values(const InitEdit* edit);

#endif  // VLX_INITFILE_EDITOR_INTERNAL_H
