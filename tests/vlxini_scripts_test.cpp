// vlxini as scripts use it: output that reads back (list into merge, eval of
// --format sh, JSON parsed back), the statuses a script branches on, one
// rule for names that are there twice, the hints under a result, renames.
#include "initfile/initfile.h"
#include "tests/tool_runner.h"

using namespace vlx;

namespace {

class VlxiniScriptsTest : public ScratchTest {
 protected:
  ProcessResult vlxini(const std::vector<std::wstring>& arguments, const std::string& input = std::string()) {
    return run_process(locate_sibling_program(L"vlxini"), arguments, to_wide(scratch), input);
  }
  std::wstring file(const wchar_t* name) { return to_wide(scratch / to_path(name)); }
  // Runs a POSIX shell script in the scratch directory, with vlxini's path in
  // $VLXINI; empty output where there is no such shell (Windows).
  ProcessResult shell(const std::string& script) {
    if (kPathSeparator != L'/') return {-1, "", ""};
    std::string line = "VLXINI='" + encode_utf8(locate_sibling_program(L"vlxini").c_str()) + "'; " + script;
    return run_process(L"/bin/sh", {L"-c", decode_utf8(line.data(), line.size())}, to_wide(scratch), "");
  }
};

// Values that a script must get back byte for byte: the format's own
// characters, a trailing backslash, quotes, shell syntax, non-ASCII and a
// byte that is not UTF-8.
const char* const kHostile[][2] = {
    {"semi", "a;b"},           {"path", "C:\\dir\\"},     {"quote", "it's \"q\""},
    {"shell", "$(touch x) `y` $HOME"}, {"utf8", "gr\xC3\xBC\xC3\x9F"}, {"latin", "caf\xE9"},
    {"eq", "a=b=c"},           {"empty", ""},             {"tab", "a\tb"},
};

void write_hostile(const fs::path& path) {
  InitEdit* edit = open_init_edit_text("", 0, nullptr);
  for (const auto& entry : kHostile) set_init_edit_value(edit, "s", entry[0], entry[1]);
  size_t length = 0;
  const char* text = init_edit_text(edit, &length);
  write_contents(path, std::string(text, length));
  free_init_edit(edit);
}

TEST_F(VlxiniScriptsTest, ListedEntriesMergeBackAsTheyWere) {
  write_hostile(scratch / "f.ini");
  ProcessResult listed = vlxini({L"list", file(L"f.ini"), L"s"});
  ASSERT_EQ(listed.status, 0);
  std::string snippet = "[s]\n" + listed.out;
  if (kPathSeparator != L'/') snippet = "[s]\r\n" + listed.out;
  ProcessResult merged = vlxini({L"merge", file(L"g.ini"), L"-"}, snippet);
  ASSERT_EQ(merged.status, 0) << merged.err;
  for (const auto& entry : kHostile) {
    ProcessResult got = vlxini({L"get", file(L"g.ini"), L"s", decode_utf8(entry[0], strlen(entry[0]))});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, console_text(std::string(entry[1]) + "\n")) << entry[0];
  }
}

TEST_F(VlxiniScriptsTest, ShellFormatIsSafeToEval) {
  if (kPathSeparator != L'/') GTEST_SKIP() << "needs a POSIX shell";
  write_hostile(scratch / "f.ini");
  ProcessResult result = shell("eval \"$(\"$VLXINI\" list --format sh f.ini s)\" && "
                               "printf '%s|' \"$semi\" \"$path\" \"$quote\" \"$shell\" \"$utf8\" \"$latin\" \"$eq\" "
                               "\"$empty\" \"$tab\"");
  ASSERT_EQ(result.status, 0) << result.err;
  std::string expected;
  for (const auto& entry : kHostile) expected += std::string(entry[1]) + "|";
  EXPECT_EQ(result.out, expected);
  EXPECT_FALSE(fs::exists(scratch / "x"));
  result = shell("eval \"$(\"$VLXINI\" get f.ini s quote --format sh)\" && printf '%s' \"$quote\"");
  EXPECT_EQ(result.out, "it's \"q\"");
  // A key that is no shell name is reported, not printed, and the status
  // says so; the others are printed.
  write_contents(scratch / "k.ini", "[s]\nok=1\nno-name=2\n");
  ProcessResult named = vlxini({L"list", file(L"k.ini"), L"s", L"--format", L"sh"});
  EXPECT_EQ(named.status, 2);
  EXPECT_EQ(named.out, "ok='1'\n");
  EXPECT_EQ(named.err, "Not printed: no-name is no shell name\n");
}

// What python3's json module reads from text, printed back one value a line
// as Python's repr of what it found.
ProcessResult parse_json(const std::string& text, const std::string& expression) {
  std::string program =
      "import json,sys\nd=json.loads(sys.stdin.buffer.read())\nfor v in " + expression + ": print(ascii(v))";
  return run_process(L"/usr/bin/python3", {L"-c", decode_utf8(program.data(), program.size())}, L"/", text);
}

TEST_F(VlxiniScriptsTest, JsonParsesBackToTheSameValues) {
  if (kPathSeparator != L'/' || !fs::exists("/usr/bin/python3")) GTEST_SKIP() << "needs python3 on Linux";
  write_hostile(scratch / "f.ini");
  ProcessResult listed = vlxini({L"list", file(L"f.ini"), L"s", L"--format", L"json"});
  ASSERT_EQ(listed.status, 0);
  ProcessResult parsed = parse_json(listed.out, "[d['section'], d['line']] + [(e['key'], e['value'], e['line']) "
                                                "for e in d['entries']]");
  ASSERT_EQ(parsed.status, 0) << listed.out << parsed.err;
  std::string expected = "'s'\n1\n";
  int line = 2;
  for (const auto& entry : kHostile) {
    // Bytes that are not UTF-8 come as the characters of their Latin-1 reading.
    std::wstring value = std::string(entry[0]) == "latin" ? L"caf\u00e9" : decode_utf8(entry[1], strlen(entry[1]));
    ProcessResult repr = run_process(L"/usr/bin/python3", {L"-c", L"import sys; print(ascii(sys.argv[1]))", value},
                                     L"/", "");
    expected += "('" + std::string(entry[0]) + "', " + repr.out.substr(0, repr.out.size() - 1) + ", " +
                std::to_string(line++) + ")\n";
  }
  EXPECT_EQ(parsed.out, expected);
  ProcessResult got = vlxini({L"get", file(L"f.ini"), L"s", L"quote", L"--format", L"json"});
  EXPECT_EQ(parse_json(got.out, "[d['section'], d['key'], d['value'], d['line']]").out, "'s'\n'quote'\n'it\\'s \"q\"'\n4\n");
  got = vlxini({L"get", file(L"f.ini"), L"s", L"none", L"--default", L"d", L"--format", L"json"});
  EXPECT_EQ(parse_json(got.out, "[d['value'], d['line']]").out, "'d'\nNone\n");
  write_contents(scratch / "bad.ini", "# comment\n[s]\n");
  write_contents(scratch / "twice.ini", "[a]\nk=1\n[b]\n[a]\nk=2\n");
  ProcessResult checked = vlxini({L"check", file(L"f.ini"), file(L"bad.ini"), file(L"twice.ini"), L"--format", L"json"});
  EXPECT_EQ(checked.status, 2);
  EXPECT_EQ(parse_json(checked.out, "[(f['loads'], f.get('line'), f.get('reason'), [w['line'] for w in f['warnings']]) "
                                    "for f in d['files']]")
                .out,
            "(True, None, None, [])\n(False, 1, 'a line that is neither a section header nor an entry', [])\n"
            "(True, None, None, [4, 5])\n");
}

TEST_F(VlxiniScriptsTest, StatusesTellWhatToDo) {
  write_contents(scratch / "f.ini", "[s]\nk=v\n");
  const struct {
    std::vector<std::wstring> arguments;
    int status;
  } cases[] = {
      {{L"get", file(L"f.ini"), L"s", L"k"}, 0},
      {{L"get", file(L"f.ini"), L"s", L"absent"}, 1},
      {{L"get", file(L"absent.ini"), L"s", L"k"}, 2},
      {{L"get", file(L"f.ini"), L"s", L"k", L"--format", L"xml"}, 2},
      {{L"set", file(L"f.ini"), L"s", L"k", L"v", L"--format", L"json"}, 2},
      {{L"list", file(L"f.ini"), L"--default", L"x"}, 2},
      {{L"rename", file(L"f.ini"), L"s", L"k", L"k"}, 0},
      {{L"rename", file(L"f.ini"), L"t", L"u"}, 1},
  };
  for (const auto& c : cases) {
    std::string trace;
    for (const std::wstring& argument : c.arguments) trace += encode_utf8(argument.c_str()) + " ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(vlxini(c.arguments).status, c.status);
  }
}

TEST_F(VlxiniScriptsTest, TheEntryALookUpFindsIsTheOneEveryCommandUses) {
  // [a] twice, y only in the second; k twice in the first.
  const std::string text = "[a]\nk=first\nk=second\n[b]\n[a]\ny=9\n";
  write_contents(scratch / "d.ini", text);
  EXPECT_EQ(vlxini({L"get", file(L"d.ini"), L"a", L"k"}).out, console_text("first\n"));
  EXPECT_EQ(vlxini({L"get", file(L"d.ini"), L"a", L"y"}).status, 1);
  EXPECT_EQ(vlxini({L"get", L"-", L"a", L"k"}, text).out, console_text("first\n"));
  // A snippet is read as any file: merge takes what its look-up finds.
  ASSERT_EQ(vlxini({L"merge", file(L"m.ini"), L"-"}, text).status, 0);
  EXPECT_EQ(read_contents(scratch / "m.ini"), "[a]\nk=first\n");
  // set changes what get finds.
  ASSERT_EQ(vlxini({L"set", file(L"d.ini"), L"a", L"k", L"new"}).status, 0);
  EXPECT_EQ(read_contents(scratch / "d.ini"), "[a]\nk=new\nk=second\n[b]\n[a]\ny=9\n");
  // check warns of each name that is there again, without changing its status.
  ProcessResult checked = vlxini({L"check", file(L"d.ini")});
  EXPECT_EQ(checked.status, 0);
  std::string name = encode_utf8(file(L"d.ini").c_str());
  EXPECT_EQ(checked.out, console_text(name + ": ok\n"));
  EXPECT_EQ(checked.err, console_text(name + ":3: warning: key k of [a] again (first at line 2); look-ups use the first\n" +
                                      name + ":5: warning: section [a] again (first at line 1); look-ups use the first\n"));
}

TEST_F(VlxiniScriptsTest, HintsSayWhyANameOrAFileIsNotThere) {
  write_contents(scratch / "case.ini", "[Server]\nPort=80\n");
  ProcessResult result = vlxini({L"get", file(L"case.ini"), L"server", L"port"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, console_text("  the file has [Server]; names are case-sensitive\n"));
  result = vlxini({L"set", file(L"case.ini"), L"Server", L"port", L"81"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, console_text("  [Server] has Port; names are case-sensitive\n"));
  std::string name = encode_utf8(file(L"h.ini").c_str());
  const struct {
    const char* text;
    std::string err;
  } files[] = {
      {"# comment\n[s]\n", "Cannot load init file " + name + "\n  line 1: a line that is neither a section header nor an entry\n"
                           "  only ';' starts a comment in this format\n"},
      {"[s]\nk=v\n  # a=b\n", ""},  // an entry whose key starts with '#': it loads
      {"k=v\n[s]\n", "Cannot load init file " + name + "\n  line 1: an entry before the first section header\n"
                     "  every entry belongs to a section: add a [section] header above it\n"},
  };
  for (const auto& f : files) {
    write_contents(scratch / "h.ini", f.text);
    result = vlxini({L"get", file(L"h.ini"), L"s", L"k"});
    EXPECT_EQ(result.err, console_text(f.err)) << f.text;
  }
}

TEST_F(VlxiniScriptsTest, RenamesChangeOnlyTheNames) {
  const std::string text = "; head\r\n[old] ; the section\r\n  key = v \\; w ; c\r\n[x]\r\nkey=1\r\n[old]\r\nkey=2\r\n";
  write_contents(scratch / "r.ini", text);
  ASSERT_EQ(vlxini({L"rename", file(L"r.ini"), L"old", L"key", L"k;2"}).status, 0);
  EXPECT_EQ(read_contents(scratch / "r.ini"),
            "; head\r\n[old] ; the section\r\n  k\\;2 = v \\; w ; c\r\n[x]\r\nkey=1\r\n[old]\r\nk\\;2=2\r\n");
  ASSERT_EQ(vlxini({L"rename", file(L"r.ini"), L"old", L"new"}).status, 0);
  EXPECT_EQ(read_contents(scratch / "r.ini"),
            "; head\r\n[new] ; the section\r\n  k\\;2 = v \\; w ; c\r\n[x]\r\nkey=1\r\n[new]\r\nk\\;2=2\r\n");
  EXPECT_EQ(vlxini({L"get", file(L"r.ini"), L"new", L"k;2"}).out, console_text("v ; w\n"));
  // A name that is there already, or that the text cannot hold, changes nothing.
  std::string before = read_contents(scratch / "r.ini");
  std::string name = encode_utf8(file(L"r.ini").c_str());
  ProcessResult taken = vlxini({L"rename", file(L"r.ini"), L"new", L"x"});
  EXPECT_EQ(taken.status, 2);
  EXPECT_EQ(taken.err, console_text("Cannot rename in init file " + name + "\n  [x] is there already\n"));
  ProcessResult bad = vlxini({L"rename", file(L"r.ini"), L"x", L"key", L"a=b"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, console_text("Cannot write this change to init file " + name + "\n  NEW cannot hold '=', CR or LF\n"));
  EXPECT_EQ(read_contents(scratch / "r.ini"), before);
}

}  // namespace
