// The line reader over files written by the test.
#include <stdlib.h>

#include <algorithm>

#include "tests/tool_runner.h"
#include "initfile/line_reader.h"

using namespace vlx;

namespace {

class LineReaderTest : public ScratchTest {
 protected:
  // Every logical line of a file holding bytes.
  std::vector<std::string> read_lines(const std::string& bytes) {
    fs::path path = scratch / "lines.ini";
    write_contents(path, bytes);
    FileHandle handle = open_file_for_reading(to_wide(path).c_str());
    EXPECT_NE(handle, kInvalidFile);
    InitLineReader reader;
    start_init_line_reader(&reader, handle);
    std::vector<std::string> lines;
    while (char* line = read_init_line(&reader)) {
      lines.emplace_back(line);
      free(line);
    }
    EXPECT_EQ(read_init_line(&reader), nullptr);  // and again after the end
    close_file(handle);
    return lines;
  }
};

using Lines = std::vector<std::string>;

TEST_F(LineReaderTest, AppliesTheByteRules) {
  struct Case {
    const char* bytes;
    Lines lines;
  } cases[] = {
      {"  key = value   ; note\n", {"key = value"}},
      {"; only a comment\n     \n\nnext\n", {"next"}},
      {"path=C:\\\\dir\\\\sub\n", {"path=C:\\dir\\sub"}},
      {"a=1\\;2\n", {"a=1;2"}},
      {"a=1\\\\;2\n", {"a=1\\"}},
      {"\\a\\b=c\n", {"ab=c"}},
      {"# note\n", {"# note"}},
      {"tab\there\t\n", {"tab\there\t"}},
      {"x=y\\ \\ \n", {"x=y"}},                   // escaped trailing spaces go too
      {"\\  lead\n", {"lead"}},                     // an escaped leading space does not stay
      {"a\rb\n", {"ab"}},
      {"one\rtwo\rthree\r", {"onetwothree"}},       // CR alone ends no line
      {"last line", {"last line"}},
      {"last\\", {"last"}},                         // pending escape at the end
      {"x;\\\nnot joined\n", {"x", "not joined"}},  // no continuation in a comment
      {"\xef\xbb\xbf[s]\n", {"\xef\xbb\xbf[s]"}},
      {"", {}},
      {"\n\n   \n;\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(read_lines(c.bytes), c.lines);
  }
}

TEST_F(LineReaderTest, JoinsContinuationLines) {
  EXPECT_EQ(read_lines("a=one \\\n   two\n"), Lines{"a=one    two"});
  EXPECT_EQ(read_lines("a=one \\\r\n   two\r\n"), Lines{"a=one    two"});
  EXPECT_EQ(read_lines("\\\n   lead\n"), Lines{"lead"});
  EXPECT_EQ(read_lines("  \\\n  \\\n x\n"), Lines{"x"});
  EXPECT_EQ(read_lines("x=a\\\\\nnext\n"), (Lines{"x=a\\", "next"}));
  EXPECT_EQ(read_lines("k=v \\ ; c \\\nmore\n"), (Lines{"k=v", "more"}));
}

TEST_F(LineReaderTest, CrLfFilesReadLikeLfFiles) {
  EXPECT_EQ(read_lines("[s]\r\na = 1 ; c\r\n\r\nb=2\r\n"), read_lines("[s]\na = 1 ; c\n\nb=2\n"));
}

TEST_F(LineReaderTest, LongLinesSpanBufferReads) {
  std::string long_line(5000, 'x');
  for (size_t i = 0; i < long_line.size(); i += 7) long_line[i] = ' ';
  long_line[0] = 'k';
  std::string bytes = long_line + "\n" + std::string(3000, ';') + "\n" + std::string(2047, '\\') + "\n";
  Lines lines = read_lines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], long_line.substr(0, long_line.find_last_not_of(' ') + 1));
  EXPECT_EQ(lines[1], std::string(1023, '\\'));  // 1023 escaped pairs, then a dangling one that joins nothing
}

// Gives its bytes in blocks of at most block bytes, then fails.
struct FailingSource {
  std::string bytes;
  size_t block;
  static bool read(void* context, char* buffer, uint32_t size, uint32_t* count) {
    FailingSource* source = static_cast<FailingSource*>(context);
    if (source->bytes.empty()) return false;
    size_t part = std::min({source->bytes.size(), source->block, static_cast<size_t>(size)});
    source->bytes.copy(buffer, part);
    source->bytes.erase(0, part);
    *count = static_cast<uint32_t>(part);
    return true;
  }
};

TEST_F(LineReaderTest, AReadErrorDropsTheLineItCuts) {
  struct Case {
    const char* bytes;  // all the source gives before it fails
    Lines lines;
  } cases[] = {
      {"", {}},
      {"[Install]\nVSN=2.4.1\nSYSTEM_VSN=1", {"[Install]", "VSN=2.4.1"}},
      {"[Install]\nVSN=2.4.1\n", {"[Install]", "VSN=2.4.1"}},
      {"a=one \\\n   tw", {}},  // a continued line is one line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    FailingSource failing{c.bytes, 7};
    InitLineReader reader;
    start_init_line_reader(&reader, kInvalidFile);
    Lines lines;
    while (char* line = read_init_line_from(&reader, InitByteSource{FailingSource::read, &failing})) {
      lines.emplace_back(line);
      free(line);
    }
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(reader.read_failed, 1);  // which the reporting loaders say
  }
}

TEST_F(LineReaderTest, ZeroByteEndsTheStringButNotTheLine) {
  EXPECT_EQ(read_lines(std::string("ab\0cd\nx\n", 8)), (Lines{"ab", "x"}));
}

}  // namespace
