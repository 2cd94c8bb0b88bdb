// POSIX start-up: hands the 8-bit command line to the wide entry. Only code
// specific to POSIX systems belongs here.
#include <string.h>

#include <string>
#include <vector>

#include "platform/platform.h"

using namespace vlx;

int main(int argc, char* argv[]) {
  std::vector<std::wstring> arguments;
  arguments.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(decode_utf8(argv[i], strlen(argv[i])));
  std::vector<wchar_t*> vector;
  for (std::wstring& argument : arguments) vector.push_back(&argument[0]);
  vector.push_back(nullptr);
  return wmain(argc, vector.data());
}
