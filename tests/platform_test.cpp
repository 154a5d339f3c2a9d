#include "platform/platform.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <vector>

namespace {

// Each path's split as `split` makes it: {path, folder, file}.
template <typename String, typename Split>
void expect_splits(const std::vector<std::array<String, 3>>& paths, Split split) {
  for (const auto& [path, folder, file] : paths) {
    EXPECT_EQ(split(path).folder, folder) << testing::PrintToString(path);
    EXPECT_EQ(split(path).file, file) << testing::PrintToString(path);
  }
}

// Which names `plain` refuses and which it takes.
template <typename Char, typename Plain>
void expect_plain(std::initializer_list<const Char*> refused,
                  std::initializer_list<const Char*> taken, Plain plain) {
  for (const Char* name : refused) EXPECT_FALSE(plain(name)) << testing::PrintToString(name);
  for (const Char* name : taken) EXPECT_TRUE(plain(name)) << testing::PrintToString(name);
}

TEST(SplitPath, PosixSplitsAtTheLastSlashAndKeepsTheRoot) {
  expect_splits<std::string>({{"a.imp", "", "a.imp"},
                              {"books/a.imp", "books", "a.imp"},
                              {"/x/y/a.imp", "/x/y", "a.imp"},
                              {"/a.imp", "/", "a.imp"},
                              {"a\\b.imp", "", "a\\b.imp"},
                              {"books/", "books", ""}},
                             split_posix_path);
}

// Every root keeps its separator: a drive's, the current drive's, a device path's to a drive, and
// a share's, plainly or as a device path. Characters whose code-page bytes hold 0x5C, and the
// full-width backslash, are no separators.
TEST(SplitPath, WindowsSplitsAtTheLastBackslashAndKeepsTheRoot) {
  expect_splits<std::wstring>(
      {{L"a.imp", L"", L"a.imp"},
       {L"books\\a.imp", L"books", L"a.imp"},
       {L"C:\\books\\a.imp", L"C:\\books", L"a.imp"},
       {L"C:\\a.imp", L"C:\\", L"a.imp"},
       {L"a:\\a.imp", L"a:\\", L"a.imp"},
       {L"z:\\a.imp", L"z:\\", L"a.imp"},
       {L"C:\\", L"C:\\", L""},
       {L"C:a.imp", L"", L"C:a.imp"},
       {L"\\a.imp", L"\\", L"a.imp"},
       {L"\\\\?\\R:\\good.imp", L"\\\\?\\R:\\", L"good.imp"},
       {L"\\\\.\\R:\\good.imp", L"\\\\.\\R:\\", L"good.imp"},
       {L"\\\\?\\R:\\books\\good.imp", L"\\\\?\\R:\\books", L"good.imp"},
       {L"\\\\server\\share\\a.imp", L"\\\\server\\share\\", L"a.imp"},
       {L"\\\\server\\share\\books\\a.imp", L"\\\\server\\share\\books", L"a.imp"},
       {L"\\\\?\\UNC\\server\\share\\a.imp", L"\\\\?\\UNC\\server\\share\\", L"a.imp"},
       {L"\\\\?\\unc\\server\\share\\x\\a.imp", L"\\\\?\\unc\\server\\share\\x", L"a.imp"},
       {L"books/a.imp", L"", L"books/a.imp"},
       {L"books\\a\u8868.imp", L"books", L"a\u8868.imp"},
       {L"a\uFF3Cb.imp", L"", L"a\uFF3Cb.imp"}},
      split_windows_path);
}

TEST(PlainName, PosixRefusesOnlyDotsAndSlashes) {
  expect_plain<char>({".", "..", "a/b", "/", "../x"},
                     {"TEXT", "...", "a\\b", "CON", "a:b", " ", "\x1b[1m"}, is_plain_posix_name);
}

TEST(PlainName, WindowsRefusesDevicesDrivesStreamsAndReservedCharacters) {
  expect_plain<wchar_t>(
      {L".",       L"..",      L"a/b",     L"a\\b",    L"C:",      L"a:b",  L"\x01",
       L"a\x1f",   L"<",       L">",       L"\"",      L"|",       L"?",    L"*",
       L"CON",     L"con",     L"Con ",    L"nul.txt", L"Com1",    L"COM9", L"LPT0",
       L"COM\xB9", L"lpt\xB3", L"COM\xB2", L"CONIN$",  L"conout$", L"AUX.", L"NUL.",
       L"AUX ",    L"PRN.x.y", L"...",     L" ",       L". ."},
      {L"TEXT", L"DATA.FRK", L"COM", L"COMA", L"CONX", L"COM10", L"LPT", L"abc.", L"abc ",
       L"COM\xB4", L"\xE9t\xE9", L".CON", L"CON_", L"\u8868\u7d19"},
      [](const wchar_t* name) { return is_plain_windows_name(name); });
}

}  // namespace
