// Loading whole files: document shape and rejection of malformed files.
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

TEST_F(LoaderTest, RejectsMalformedFilesAsAWhole) {
  for (const char* bytes : {"k=v\n[s]\n", "[]\n", "[s]\n[]\n", "[s]\n=value\n", "[s]\norphan\n",
                            "\xef\xbb\xbf[s]\n", "[s\n", "s]\n", "[s]\nk=v\n[x\n"}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(load(bytes), nullptr);
  }
}

TEST_F(LoaderTest, MissingFilesAndDirectoriesGiveNull) {
  EXPECT_EQ(load_init_file((scratch / "absent.ini").wstring().c_str()), nullptr);
  EXPECT_EQ(load_init_file(to_wide(scratch).c_str()), nullptr);
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
