// What the writer shares with the editor: the escaping of text and the
// store through a replacement. Not part of the library's public interface.
#ifndef VLX_INITFILE_WRITER_INTERNAL_H
#define VLX_INITFILE_WRITER_INTERNAL_H

#include <stddef.h>

#include <string>

#include "platform/platform.h"

namespace vlx {

// Copies length bytes of text to to, which has room for twice that, with a
// backslash before each ';' and '\', the two bytes that would start a comment
// or an escape when read back; returns the end. The backslash is stored
// before every byte and kept only where it belongs: no branch on the text.
inline char* copy_escaped(char* to, const char* text, size_t length) {
  for (const char* end = text + length; text < end; ++text) {
    *to = '\\';
    to += (*text == ';') | (*text == '\\');
    *to++ = *text;
  }
  return to;
}

// Replaces the file at path by what write(file, context) writes into the
// open new file (false when a write failed): the results and the guarantees
// of store_init_file. With signature, the file at path must still have it
// (file_signature) before anything is written, and again when the new file
// is flushed and about to be renamed into place: -3, and nothing stored,
// where it has not.
int store_init_bytes(const wchar_t* path, bool (*write)(FileHandle file, const void* context), const void* context,
                     const std::string* signature = nullptr);

}  // namespace vlx

#endif  // VLX_INITFILE_WRITER_INTERNAL_H
