// Helpers for the init file tests: documents as comparable values.
#ifndef VLX_TESTS_INITFILE_TEST_UTIL_H
#define VLX_TESTS_INITFILE_TEST_UTIL_H

#include <string>
#include <utility>
#include <vector>

#include "initfile/initfile.h"

using Entries = std::vector<std::pair<std::string, std::string>>;
using Document = std::vector<std::pair<std::string, Entries>>;

// The document's sections and entries in order.
Document describe(const InitFile* file);

// Builds a document with the model's operations (no duplicate names).
InitFile* build(const Document& document);

#endif  // VLX_TESTS_INITFILE_TEST_UTIL_H
