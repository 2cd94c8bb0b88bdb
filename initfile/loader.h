// The loader's one core routine, over any source of bytes: load_init_file
// and load_init_text are its adapters. Not part of the library's public
// interface.
#ifndef VLX_INITFILE_LOADER_H
#define VLX_INITFILE_LOADER_H

#include "initfile/initfile.h"
#include "line_reader.h"

namespace vlx {

// The document for the bytes source gives, or null at the first line that
// breaks the rules, saying where and why in *error (when not null), as
// load_init_file_reporting does.
InitFile* load_init_source(const InitByteSource& source, InitLoadError* error);

}  // namespace vlx

#endif  // VLX_INITFILE_LOADER_H
