// Changes the sections of a document through its views. It builds as it
// stands; with VLX_CONST defined as const it must not, since a const document
// gives only read-only views (the test ConstDocumentGivesReadOnlyViews).
#include "initfile/initfile.hpp"

#ifndef VLX_CONST
#define VLX_CONST
#endif

int main() {
  VLX_CONST vlx::initfile::Document document;
  for (auto section : document.sections()) section.set("k", "v");
  if (auto section = document.section("s")) section->remove("k");
  return 0;
}
