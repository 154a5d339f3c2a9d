// What only the Windows console build does: backslash paths, drive roots, wildcard expansion by
// the program itself, paths in any script, and the names Windows sends to devices, drives or
// streams. These run against impx.exe under wine, with a UTF-8 locale and the ANSI code page 1252.
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "tests/sandbox.h"

namespace fs = std::filesystem;

namespace {

class WindowsTest : public Sandbox {
 protected:
  void SetUp() override {
    if (!windows_target()) GTEST_SKIP() << "runs against impx.exe under wine";
    Sandbox::SetUp();
  }
};

TEST_F(WindowsTest, ForwardSlashIsNotASeparator) {
  put("books/a.imp", make_book(book_named("Novel", {{"TEXT", "text"}})));
  // impx gets the path with its slash; the file opens, but its directory part is empty.
  const Outcome run = impx({"books/a.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(tree(work + "/Novel").size(), 2u);
  EXPECT_FALSE(fs::exists(work + "/books/Novel"));
}

// Windows drops a name's trailing dots and blanks, so the names meet the files Windows shows;
// names from the book go to the system as bytes in the ANSI code page, as they always have.
std::vector<Row> windows_rows() {
  const TestBook trimmed = book_named("Trimmed.",
                                      {{"TEXT", "text"}, {"abc.", "dot"}, {"xy  ", "blanks"}}),
                 cafe = book_named("Caf\xE9", {{"TEXT", "text"}});
  std::vector<Row> rows = {
      {"NamesWindowsOnlyTrimStayInside",
       book_run(
           make_book(trimmed), "",
           unpacked("Trimmed", trimmed, Files{{"TEXT", "text"}, {"abc", "dot"}, {"xy", "blanks"}})),
       Only::windows},
      {"BookNameBytesKeepTheirAnsiMeaning",
       book_run(make_book(cafe), "", unpacked("Café", cafe, Files{{"TEXT", "text"}})),
       Only::windows},
  };
  add_refusals(rows, "DeviceDriveOrStreamIsRefused",
               {"CON", "nul.txt", "Com1", "LPT9 ", "a:b", "C:", Refusal("a\\b", "a\\x5Cb"), "x|y",
                "...", "CONOUT$", Refusal("com\xB9", "com\\xB9")},
               {"COM1", "NUL.", "AUX ", "a:bc", "<>|?", Refusal("c\\d*", "c\\x5Cd*"), "prn ",
                Refusal("\001abc", "\\x01abc")},
               Only::windows);
  return rows;
}
INSTANTIATE_TEST_SUITE_P(WindowsTest, Rows, testing::ValuesIn(windows_rows()), row_name<Row>);

// Patterns are expanded by the program itself; paths from the command line reach the system in
// UTF-16, whatever their script, and name exactly the file given: never a look-alike that the
// ANSI code page would make of it. Each row puts books below its start (those it names and those
// beside them, which must stay untouched) and unpacks the named ones.
Row paths_row(const std::string& name, const std::string& start,
              const std::vector<std::string>& named, const std::vector<std::string>& others,
              const std::vector<std::string>& args) {
  RowRun run{{}, args, "", {}, start};
  for (std::size_t i = 0; i < named.size() + others.size(); ++i) {
    const bool unpacks = i < named.size();
    const fs::path book = fs::path(start) / (unpacks ? named[i] : others[i - named.size()]);
    const TestBook made = book_named("Book" + std::to_string(i), {{"TEXT", "text"}});
    run.put[book.generic_string()] = make_book(made);
    if (unpacks)
      run.added = run.added + unpacked((book.parent_path() / made.name).generic_string(), made);
  }
  return {"PathsInAnyScriptNameExactlyTheBookGiven" + name, run, Only::windows};
}

std::vector<Row> paths_rows() {
  const std::string deep =
      std::string(120, 'd') + "/" + std::string(120, 'e') + "/" + std::string(40, 'f');
  return {
      paths_row("Patterns", "", {"a.imp", "b.imp", "books/c.imp"}, {}, {"*.imp", "books/*.imp"}),
      paths_row("CyrillicRelative", "", {"книги/a.imp"}, {}, {"книги/a.imp"}),
      paths_row("CjkAbsolute", "", {"书籍/a.imp"}, {}, {"{work}/书籍/a.imp"}),
      paths_row("EmojiFolderPattern", "", {"😀/a.imp", "😀/b.imp"}, {}, {"😀/*.imp"}),
      paths_row("NamesOutsideTheCodePage", "", {"книга.imp", "书.imp"}, {}, {"*.imp"}),
      paths_row("StartFolderOutsideTheCodePage", "Дмитрий", {"a.imp", "sub/b.imp"}, {},
                {"a.imp", "sub/b.imp"}),
      paths_row("LookAlike", "", {"cafė/a.imp"}, {"cafe/a.imp"}, {"cafė/a.imp"}),
      paths_row("FullWidthBackslash", "", {"a＼b.imp"}, {"a/b.imp"}, {"a＼b.imp"}),
      paths_row("DirectoryPartOver260Characters", "", {deep + "/a.imp"}, {}, {deep + "/a.imp"}),
  };
}
INSTANTIATE_TEST_SUITE_P(WindowsPaths, Rows, testing::ValuesIn(paths_rows()), row_name<Row>);

// Under a double-byte code page (932, in a Japanese locale) a name is judged by its characters:
// a second byte 0x5C is no separator, and a lone lead byte is no name.
TEST_F(WindowsTest, NamesAreJudgedAsTheCodePagesCharacters) {
  if (std::setlocale(LC_ALL, "ja_JP.UTF-8") == nullptr) {
    GTEST_SKIP() << "needs the locale ja_JP.UTF-8 (localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)";
  }
  std::setlocale(LC_ALL, "C");
  const std::string lang = env("LANG");
  setenv("LANG", "ja_JP.UTF-8", 1);
  put("a.imp", make_book(book_named("\x83\x5C\x83\x74\x83\x67", {{"TEXT", "text"}})));  // ソフト
  put("b.imp", make_book(book_named("\x95\x5C\x8E\x86", {{"TEXT", "text"}})));          // 表紙
  put("c.imp", make_book(book_named("\x83", {{"TEXT", "text"}})));
  const Outcome run = impx({"a.imp", "b.imp"});
  const Outcome lone = impx({"c.imp"});
  setenv("LANG", lang.c_str(), 1);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(tree(work + "/ソフト").size(), 2u);
  EXPECT_EQ(tree(work + "/表紙").size(), 2u);
  EXPECT_EQ(lone.err, refused_book_name("\\x83") + kPrompt);
}

// The usage line names the program even where the console's code page lacks its characters,
// with a '?' for each, never a look-alike.
TEST_F(WindowsTest, UsageNamesAProgramInAnyScript) {
  for (const auto& [folder, shown] : {std::pair{"книги", "?????"}, std::pair{"cafė", "caf?"}}) {
    put(std::string(folder) + "/impx.exe", read_file(env("IMPX_EXE")));
    const Outcome run = impx({}, "", {}, "", work + "/" + folder + "/impx.exe");
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err.rfind("Usage: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(std::string(shown) + "\\impx.exe <impfile1>...<impfilen>\n"),
              std::string::npos)
        << run.err;
  }
}

}  // namespace
