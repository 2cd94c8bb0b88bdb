// Generated init files for the benchmarks, written once into a data directory
// and reused by later runs.
#ifndef VLX_BENCHMARKS_GENERATE_H
#define VLX_BENCHMARKS_GENERATE_H

#include <cstddef>
#include <string>

// A realistic file of about 50 MB: 10,000 sections of 100 entries with
// comments, indentation, escapes and a few continuation lines.
std::string realistic_file();

// The same shape in what both this library and a plain INI parser read the
// same way: no indentation, escapes or continuation lines, lines under 200
// bytes, ';' comments after a space.
std::string shared_file();

// The same shape in what every peer reads alike, GLib's GKeyFile included: no
// comments, no escapes, each key once in its section; lines of about 54
// bytes.
std::string plain_file();

// One header and one entry whose value is megabytes long.
std::string long_line_file(std::size_t megabytes);

// One header and count entries of a few bytes.
std::string tiny_lines_file(std::size_t count);

// Size of the file at path in bytes.
std::size_t file_size(const std::string& path);

#endif  // VLX_BENCHMARKS_GENERATE_H
