// Document building blocks shared by the loader and the model, outside the
// public interface: they append without looking for an existing name.
#ifndef VLX_INITFILE_DOCUMENT_INTERNAL_H
#define VLX_INITFILE_DOCUMENT_INTERNAL_H

#include "initfile/initfile.h"

namespace vlx {

// Every array of a document starts with this many slots and grows by as many.
constexpr int32_t kInitGrowth = 10;

// A new empty section that takes ownership of name (a malloc'd string).
InitSection* adopt_init_section_name(char* name);

// Releases the entry at index (below count) and moves the last entry into
// its slot.
void remove_init_entry_at(InitSection* section, int32_t index);

// A new entry whose text of text_size bytes shares its heap block: key
// points to the text, right after the record; value is left for the caller
// to point into it. Releasing the entry releases both at once.
InitEntry* allocate_init_entry(size_t text_size);

}  // namespace vlx

#endif  // VLX_INITFILE_DOCUMENT_INTERNAL_H
