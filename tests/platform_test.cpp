#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

TEST(DirectoryPart, PosixSplitsAtTheLastSlashAndKeepsTheRoot) {
  EXPECT_EQ(posix_directory_part("a.imp"), "");
  EXPECT_EQ(posix_directory_part("books/a.imp"), "books");
  EXPECT_EQ(posix_directory_part("/x/y/a.imp"), "/x/y");
  EXPECT_EQ(posix_directory_part("/a.imp"), "/");
  EXPECT_EQ(posix_directory_part("a\\b.imp"), "");
}

TEST(DirectoryPart, WindowsSplitsAtTheLastBackslashAndKeepsTheRoot) {
  EXPECT_EQ(windows_directory_part(L"a.imp"), L"");
  EXPECT_EQ(windows_directory_part(L"books\\a.imp"), L"books");
  EXPECT_EQ(windows_directory_part(L"C:\\books\\a.imp"), L"C:\\books");
  EXPECT_EQ(windows_directory_part(L"C:\\a.imp"), L"C:\\");
  EXPECT_EQ(windows_directory_part(L"\\a.imp"), L"\\");
  EXPECT_EQ(windows_directory_part(L"books/a.imp"), L"");
  // Characters whose code-page bytes hold 0x5C, and the full-width backslash, are no separators.
  EXPECT_EQ(windows_directory_part(L"books\\a\u8868.imp"), L"books");
  EXPECT_EQ(windows_directory_part(L"a\uFF3Cb.imp"), L"");
}

TEST(PlainName, PosixRefusesOnlyDotsAndSlashes) {
  for (const char* name : {".", "..", "a/b", "/", "../x"}) {
    EXPECT_FALSE(is_plain_posix_name(name)) << name;
  }
  for (const char* name : {"TEXT", "...", "a\\b", "CON", "a:b", " ", "\x1b[1m"}) {
    EXPECT_TRUE(is_plain_posix_name(name)) << name;
  }
}

TEST(PlainName, WindowsRefusesDevicesDrivesStreamsAndReservedCharacters) {
  for (const wchar_t* name :
       {L".",       L"..",      L"a/b",     L"a\\b",    L"C:",      L"a:b",  L"\x01",
        L"a\x1f",   L"<",       L">",       L"\"",      L"|",       L"?",    L"*",
        L"CON",     L"con",     L"Con ",    L"nul.txt", L"Com1",    L"COM9", L"LPT0",
        L"COM\xB9", L"lpt\xB3", L"COM\xB2", L"CONIN$",  L"conout$", L"AUX.", L"NUL.",
        L"AUX ",    L"PRN.x.y", L"...",     L" ",       L". ."}) {
    EXPECT_FALSE(is_plain_windows_name(name)) << name;
  }
  for (const wchar_t* name :
       {L"TEXT", L"DATA.FRK", L"COM", L"COMA", L"CONX", L"COM10", L"LPT", L"abc.", L"abc ",
        L"COM\xB4", L"\xE9t\xE9", L".CON", L"CON_", L"\u8868\u7d19"}) {
    EXPECT_TRUE(is_plain_windows_name(name)) << name;
  }
}

}  // namespace
