#include "benchmarks/generate.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string data_path(const std::string& name) {
  const char* dir = std::getenv("VLX_BENCH_DATA");
  fs::path path = fs::path(dir ? dir : "bench-data") / name;
  fs::create_directories(path.parent_path());
  return path.string();
}

// Writes the file with write_lines unless it is already there.
template <typename WriteLines>
std::string make_file(const std::string& name, WriteLines write_lines) {
  std::string path = data_path(name);
  if (fs::exists(path)) return path;
  std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary);
    write_lines(out);
  }
  fs::rename(temp, path);
  return path;
}

constexpr int kSections = 10000;
constexpr int kEntriesPerSection = 100;

// Writes kSections sections of kEntriesPerSection entries, each section
// after a blank line and a comment, with line_end after every line;
// write_entry(s, e, n) writes entry e of section s, the n-th of the file.
template <typename WriteEntry>
void write_sections(std::ofstream& out, const char* line_end, WriteEntry write_entry) {
  out << "; Generated configuration: " << kSections << " sections" << line_end;
  for (int s = 0; s < kSections; ++s) {
    out << line_end << "; settings of component " << s << line_end << "[component." << s << "]" << line_end;
    for (int e = 0; e < kEntriesPerSection; ++e) write_entry(s, e, s * kEntriesPerSection + e);
  }
}

}  // namespace

std::string realistic_file() {
  return make_file("realistic.ini", [](std::ofstream& out) {
    write_sections(out, "\r\n", [&out](int s, int e, int n) {
      switch (e % 5) {
        case 0: out << "  name_" << e << " = component " << s << " entry " << e << "   ; the name\r\n"; break;
        case 1: out << "    path_" << e << "=C:\\\\Program Files\\\\vorlax\\\\lib\\\\" << n << "\r\n"; break;
        case 2: out << "  list_" << e << " = alpha\\; beta\\; gamma " << n << "\r\n"; break;
        case 3:
          if (e % 50 == 3) {
            out << "  text_" << e << " = a value that goes on \\\r\n      over two lines " << n << "\r\n";
          } else {
            out << "  size_" << e << " = " << n * 7 << "\r\n";
          }
          break;
        default: out << "   flag_" << e << "=yes ; enabled by default\r\n"; break;
      }
    });
  });
}

std::string shared_file() {
  return make_file("shared.ini", [](std::ofstream& out) {
    write_sections(out, "\n", [&out](int s, int e, int n) {
      switch (e % 4) {
        case 0: out << "name_" << e << " = component " << s << " entry " << e << "   ; the name\n"; break;
        case 1: out << "path_" << e << "=/opt/vorlax/lib/release-" << n << "/modules\n"; break;
        case 2: out << "size_" << e << " = " << n * 7 << "\n"; break;
        default: out << "flag_" << e << "=yes ; enabled by default\n"; break;
      }
    });
  });
}

std::string plain_file() {
  return make_file("plain.ini", [](std::ofstream& out) {
    for (int s = 0; s < kSections; ++s) {
      out << "[component." << s << "]\n";
      for (int e = 0; e < kEntriesPerSection; ++e) {
        int n = s * kEntriesPerSection + e;
        switch (e % 4) {
          case 0: out << "name_" << e << " = component " << s << " entry " << e << " of the generated set\n"; break;
          case 1: out << "path_" << e << "=/opt/vorlax/lib/release-" << n << "/modules/bin\n"; break;
          case 2: out << "size_" << e << " = " << n * 7 << " kilobytes in all\n"; break;
          default: out << "flag_" << e << "=enabled by default for component " << s << "\n"; break;
        }
      }
    }
  });
}

std::string long_line_file(std::size_t megabytes) {
  return make_file("line-" + std::to_string(megabytes) + "mb.ini", [megabytes](std::ofstream& out) {
    out << "[s]\nk=";
    std::string block(1 << 20, 'v');
    for (std::size_t i = 64; i < block.size(); i += 64) block[i] = ' ';
    for (std::size_t i = 0; i < megabytes; ++i) out << block;
    out << "\n";
  });
}

std::string tiny_lines_file(std::size_t count) {
  return make_file("tiny-" + std::to_string(count) + ".ini", [count](std::ofstream& out) {
    out << "[s]\n";
    for (std::size_t i = 0; i < count; ++i) out << "k=" << i % 10 << "\n";
  });
}

std::size_t file_size(const std::string& path) { return fs::file_size(path); }
