// Loading whole files: document shape and rejection of malformed files.
#include <string.h>

#include "initfile/loader.h"
#include "tests/initfile_test_util.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

class LoaderTest : public ScratchTest {
 protected:
  // The loaded document, or nullptr when the file is rejected. The same
  // bytes in memory must give the same document.
  std::unique_ptr<Document> load(const std::string& bytes) {
    fs::path path = scratch / "load.ini";
    write_contents(path, bytes);
    InitFile* file = load_init_file(to_wide(path).c_str());
    InitFile* text = load_init_text(bytes.data(), bytes.size());
    EXPECT_EQ(file == nullptr, text == nullptr) << "the file and the text disagree";
    if (text) {
      if (file) {
        EXPECT_TRUE(describe(text) == describe(file)) << "the file and the text disagree";
      }
      free_init_file(text);
    }
    if (!file) return nullptr;
    auto document = std::make_unique<Document>(describe(file));
    free_init_file(file);
    return document;
  }

  void expect_document(const std::string& bytes, const Document& expected) {
    SCOPED_TRACE(bytes.substr(0, 80));
    std::unique_ptr<Document> document = load(bytes);
    ASSERT_TRUE(document);
    EXPECT_EQ(*document, expected);
  }
};

TEST_F(LoaderTest, BuildsSectionsAndEntriesInFileOrder) {
  expect_document("", {});
  expect_document("; nothing\n\n   \n", {});
  expect_document("[x]\n", {{"x", {}}});
  expect_document("[a]\n[b]\nk=v\n", {{"a", {}}, {"b", {{"k", "v"}}}});
  expect_document("[s]\nkey = value\nkey==v\nk=\nk2 = \na b = c\nk3=  v  w\n",
                  {{"s", {{"key", "value"}, {"key", "=v"}, {"k", ""}, {"k2", ""}, {"a b", "c"}, {"k3", "v  w"}}}});
  expect_document("[ a ]\n[a\\;b]\n", {{" a ", {}}, {"a;b", {}}});
  expect_document("[s]\nk=1\n[s]\nk=2\n", {{"s", {{"k", "1"}}}, {"s", {{"k", "2"}}}});
  // After the first line the entry test comes first.
  expect_document("[a=b]\n[c=d]\n", {{"a=b", {{"[c", "d]"}}}});
  expect_document("[Install]\nVSN =  2.4.1 ; comment\n", {{"Install", {{"VSN", "2.4.1"}}}});
}

TEST_F(LoaderTest, RejectsMalformedFilesAsAWholeSayingWhereAndWhy) {
  const char kNeither[] = "a line that is neither a section header nor an entry";
  const char kNoBracket[] = "a section header that does not end with ']'";
  const struct {
    const char* bytes;
    int line;
    const char* reason;
  } cases[] = {
      {"k=v\n[s]\n", 1, "an entry before the first section header"},
      {"; note\n\n  k=v\n", 3, "an entry before the first section header"},
      {"[]\n", 1, "a section header without a name"},
      {"[s]\n[]\n", 2, "a section header without a name"},
      {"[s]\n=value\n", 2, "an entry without a key"},
      {"[s]\r\n\r\norphan\r\n", 3, kNeither},
      {"\xef\xbb\xbf[s]\n", 1, "the file starts with a UTF-8 byte-order mark, which the format keeps as text"},
      // "Unicode" as Notepad saves it, little- and big-endian.
      {"\xff\xfe[\0s\0]\0\n\0", 1, "the file is UTF-16 text; it must be saved as UTF-8 or ANSI"},
      {"\xfe\xff\0[\0s\0]\0\n", 1, "the file is UTF-16 text; it must be saved as UTF-8 or ANSI"},
      {"[s\n", 1, kNoBracket},
      {"s]\n", 1, kNeither},
      {"[s]\nk=v\n[x\n", 3, kNoBracket},
      // A continued line is reported where it starts; a line of only a
      // backslash starts nothing.
      {"[s]\nk=v ; a \\\nnot \\\n  continued\n", 3, kNeither},
      {"[s]\n\\\n\\\n  lead\n", 4, kNeither},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    // The UTF-16 texts hold zero bytes: they run to their last line feed.
    std::string bytes(c.bytes, c.bytes[0] == '\xff' ? 10 : c.bytes[0] == '\xfe' ? 9 : strlen(c.bytes));
    EXPECT_EQ(load(bytes), nullptr);
    InitLoadError text_error = {-1, nullptr}, file_error = {-1, nullptr};
    EXPECT_EQ(load_init_text_reporting(bytes.data(), bytes.size(), &text_error), nullptr);
    EXPECT_EQ(load_init_file_reporting(to_wide(scratch / "load.ini").c_str(), &file_error), nullptr);
    EXPECT_EQ(text_error.line, c.line);
    EXPECT_STREQ(text_error.reason, c.reason);
    EXPECT_EQ(file_error.line, c.line);
    EXPECT_STREQ(file_error.reason, c.reason);
  }
  InitLoadError error = {-1, "stale"};
  InitFile* file = load_init_text_reporting("[s]\nk=v\n", 8, &error);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(error.line, 0);
  EXPECT_EQ(error.reason, nullptr);
  free_init_file(file);
}

// Gives lines line feeds, then the text after them: a text of gigabytes
// without the memory.
struct LineFeedSource {
  uint64_t lines;
  std::string after;
  static bool read(void* context, char* buffer, uint32_t size, uint32_t* count) {
    LineFeedSource* source = static_cast<LineFeedSource*>(context);
    if (source->lines > 0) {
      *count = source->lines < size ? static_cast<uint32_t>(source->lines) : size;
      memset(buffer, '\n', *count);
      source->lines -= *count;
    } else {
      *count = static_cast<uint32_t>(source->after.copy(buffer, size));
      source->after.erase(0, *count);
    }
    return true;
  }
};

TEST_F(LoaderTest, LinesBeyondTheCounterAreReportedAtItsLimit) {
  // "orphan" stands on the line after the line feeds and the header.
  struct Case {
    uint64_t line_feeds;
    int32_t reported;
  } cases[] = {{5, 7}, {(1ull << 31) - 3, INT32_MAX}, {(1ull << 31) + 5, INT32_MAX}};
  for (const Case& c : cases) {
    LineFeedSource source{c.line_feeds, "[s]\norphan\n"};
    InitLoadError error = {0, nullptr};
    EXPECT_EQ(load_init_source(InitByteSource{LineFeedSource::read, &source}, &error), nullptr);
    EXPECT_EQ(error.line, c.reported) << c.line_feeds;
    EXPECT_STREQ(error.reason, "a line that is neither a section header nor an entry");
  }
}

TEST_F(LoaderTest, MissingFilesAndDirectoriesGiveNull) {
  EXPECT_EQ(load_init_file((scratch / "absent.ini").wstring().c_str()), nullptr);
  EXPECT_EQ(load_init_file(to_wide(scratch).c_str()), nullptr);
  InitLoadError error = {-1, nullptr};
  EXPECT_EQ(load_init_file_reporting(to_wide(scratch / "absent.ini").c_str(), &error), nullptr);
  EXPECT_EQ(error.line, 0);
  EXPECT_STREQ(error.reason, "the file cannot be opened");
}

TEST_F(LoaderTest, ToleratesHostileBytes) {
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
  EXPECT_EQ(load(garbage), nullptr);
  EXPECT_EQ(load(std::string(100001, '\\')), nullptr);  // one line of 50000 backslashes
  expect_document(std::string(100000, ';'), {});
  expect_document("[s]\n" + std::string("k=\0v\n", 5), {{"s", {{"k", ""}}}});
}

TEST_F(LoaderTest, ReadsAFiftyMegabyteLine) {
  std::string value(50 << 20, 'v');
  for (size_t i = 4096; i < value.size(); i += 4096) value[i] = ' ';
  std::unique_ptr<Document> document = load("[s]\nk=" + value + "\n");
  ASSERT_TRUE(document);
  ASSERT_EQ(document->size(), 1u);
  ASSERT_EQ((*document)[0].second.size(), 1u);
  EXPECT_EQ((*document)[0].second[0].first, "k");
  EXPECT_TRUE(same_bytes((*document)[0].second[0].second, value));
}

}  // namespace
