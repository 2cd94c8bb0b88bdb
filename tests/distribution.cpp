#include "tests/distribution.h"

#include "installer/messages.h"

using namespace vlx;

const std::vector<std::wstring> kLaunchers = {L"vlx.exe",     L"vlxwin.exe", L"vlxcomp.exe",
                                              L"lintvet.exe", L"sigscan.exe", L"vlxrun.exe",
                                              L"testdrv.exe"};
const std::vector<std::wstring> kBootFileNames = {L"start_minimal.boot", L"start_tavrel.boot",
                                                  L"no_dot_vorlax.boot"};

std::wstring native_path(const fs::path& root, std::initializer_list<const wchar_t*> parts) {
  return native_path(to_wide(root), parts);
}

std::wstring native_path(const std::wstring& root, std::initializer_list<const wchar_t*> parts) {
  std::wstring path = root;
  for (const wchar_t* part : parts) path += kPathSeparator + std::wstring(part);
  return path;
}

void DistributionTest::SetUp() {
  ScratchTest::SetUp();
  root = scratch / "root";
  runtime_bin_dir = to_path(native_path(root, {L"vlxcore-2.4.1", L"bin"}));
  release_dir = to_path(native_path(root, {L"releases", L"9"}));
  bin_dir = to_path(native_path(root, {L"bin"}));
  write_contents(root / "Install.ini", "[Install]\nVSN=2.4.1\nSYSTEM_VSN=9\n");
  for (const std::wstring& name : kLaunchers) {
    write_contents(runtime_bin_dir / name, "launcher " + encode_utf8(name.c_str()) + "\n");
  }
  for (const std::wstring& name : kBootFileNames) {
    write_contents(release_dir / name, "boot " + encode_utf8(name.c_str()) + "\n");
  }
}

std::string escape_config_value(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == ';' || c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::string expected_config(const std::wstring& root, const std::wstring& runtime_bin_dir) {
  return "[vorlax]\nBindir=" + escape_config_value(encode_utf8(runtime_bin_dir.c_str())) +
         "\nProgname=vlx\nRootdir=" + escape_config_value(encode_utf8(root.c_str())) + "\n";
}

std::string expected_config(const std::wstring& root) {
  return expected_config(root, native_path(root, {L"vlxcore-2.4.1", L"bin"}));
}

void DistributionTest::expect_installed(bool tavrel_start) {
  for (const std::wstring& name : kLaunchers) {
    EXPECT_EQ(read_contents(bin_dir / name), read_contents(runtime_bin_dir / name)) << encode_utf8(name.c_str());
  }
  for (const std::wstring& name : kBootFileNames) {
    EXPECT_EQ(read_contents(bin_dir / name), read_contents(release_dir / name)) << encode_utf8(name.c_str());
  }
  EXPECT_EQ(read_contents(bin_dir / "start.boot"),
            read_contents(release_dir / (tavrel_start ? "start_tavrel.boot" : "start_minimal.boot")));
  EXPECT_EQ(read_contents(runtime_bin_dir / "vlx.ini"), expected_config(to_wide(root)));
  EXPECT_EQ(read_contents(bin_dir / "vlx.ini"), expected_config(to_wide(root)));
}

std::string DistributionTest::success_output() const {
  return std::string(kPrompt) + console_text(message(kInstalled, "2.4.1"));
}
