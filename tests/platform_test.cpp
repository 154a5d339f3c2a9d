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
  for (const char* name :
       {".",    "..",   "a/b",     "a\\b",    "C:",      "a:b",     "\x01",   "a\x1f",   "<",
        ">",    "\"",   "|",       "?",       "*",       "CON",     "con",    "Con ",    "nul.txt",
        "Com1", "COM9", "LPT0",    "COM\xB9", "lpt\xB3", "COM\xB2", "CONIN$", "conout$", "AUX.",
        "NUL.", "AUX ", "PRN.x.y", "...",     " ",       ". ."}) {
    EXPECT_FALSE(is_plain_windows_name(name)) << name;
  }
  for (const char* name : {"TEXT", "DATA.FRK", "COM", "COMA", "CONX", "COM10", "LPT", "abc.",
                           "abc ", "COM\xB4", "\xE9t\xE9", ".CON", "CON_"}) {
    EXPECT_TRUE(is_plain_windows_name(name)) << name;
  }
}

}  // namespace
