// What only the Windows console build does: backslash paths, drive roots, wildcard expansion by
// the program itself, and the names Windows sends to devices, drives or streams. These run
// against impx.exe under wine.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/sandbox.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;

class WindowsTest : public Sandbox {
 protected:
  void SetUp() override {
    if (!windows_target()) GTEST_SKIP() << "runs against impx.exe under wine";
    Sandbox::SetUp();
  }
};

TestBook book_named(const std::string& name) {
  TestBook book;
  book.name = name;
  book.resources = {{"TEXT", "text"}};
  return book;
}

TEST_F(WindowsTest, ForwardSlashIsNotASeparator) {
  put("books/a.imp", make_book(book_named("Novel")));
  // impx gets the path with its slash; the file opens, but its directory part is empty.
  const Outcome run = run_impx({"books/a.imp"}, work);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(output("Novel").size(), 2u);
  EXPECT_FALSE(fs::exists(work + "/books/Novel"));
}

TEST_F(WindowsTest, WildcardsAreExpandedByTheProgram) {
  put("a.imp", make_book(book_named("First")));
  put("b.imp", make_book(book_named("Second")));
  put("books/c.imp", make_book(book_named("Third")));
  const Outcome run = run_impx({"*.imp", "books\\*.imp"}, work);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(output("First").size(), 2u);
  EXPECT_EQ(output("Second").size(), 2u);
  EXPECT_EQ(output("books/Third").size(), 2u);
}

TEST_F(WindowsTest, BookInADriveRootHasItsOutputInThatRoot) {
  const char* prefix = std::getenv("WINEPREFIX");
  ASSERT_NE(prefix, nullptr);
  const std::string drive = sandbox + "/drive";
  fs::create_directory(drive);
  const fs::path link = fs::path(prefix) / "dosdevices" / "y:";
  fs::remove(link);
  fs::create_directory_symlink(drive, link);
  write_file(drive + "/a.imp", make_book(book_named("Novel")));
  const Outcome run = run_impx({"Y:\\a.imp"}, work);
  fs::remove(link);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(tree(drive + "/Novel"),
            (Files{{"RSRC.INF", expected_info_file(book_named("Novel"))}, {"TEXT", "text"}}));
  EXPECT_EQ(output("").size(), 0u);
}

TEST_F(WindowsTest, BookInTheRootOfTheCurrentDriveHasItsOutputThere) {
  // The working directory is on drive Z:, which wine maps to the file system's root.
  const std::string stem = "impx-wine-root-" + std::to_string(::getpid());
  try {
    write_file("/" + stem + ".imp", make_book(book_named(stem)));
  } catch (const std::exception&) {
    GTEST_SKIP() << "the root is not writable here";
  }
  const Outcome run = run_impx({"\\" + stem + ".imp"}, work);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(tree("/" + stem).size(), 2u);
  remove_tree("/" + stem);
  fs::remove("/" + stem + ".imp");
}

TEST_F(WindowsTest, BookNamesForDevicesDrivesAndStreamsAreRefused) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"CON", "CON"}, {"nul.txt", "nul.txt"}, {"Com1", "Com1"},        {"LPT9 ", "LPT9 "},
      {"a:b", "a:b"}, {"C:", "C:"},           {"a\\b", "a\\x5Cb"},     {"x|y", "x|y"},
      {"...", "..."}, {"CONOUT$", "CONOUT$"}, {"com\xB9", "com\\xB9"},
  };
  for (const auto& c : cases) {
    put("a.imp", make_book(book_named(c.name)));
    const Files before = everything();
    const Outcome run = impx({"a.imp"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err,
              "Refusing book name \"" + c.shown + "\": it must name one new directory\n" + kPrompt);
    EXPECT_EQ(everything(), before) << c.shown;
  }
}

TEST_F(WindowsTest, TypeCodesForDevicesDrivesAndStreamsAreRefused) {
  const struct {
    std::string type;
    std::string shown;
  } cases[] = {
      {"COM1", "COM1"},
      {"NUL.", "NUL."},
      {"AUX ", "AUX "},
      {"a:bc", "a:bc"},
      {"<>|?", "<>|?"},
      {"c\\d*", "c\\x5Cd*"},
      {"prn ", "prn "},
      {"\x01"
       "abc",
       "\\x01abc"},
  };
  for (const auto& c : cases) {
    TestBook book = book_named("Novel");
    book.resources.push_back({c.type, "evil"});
    put("a.imp", make_book(book));
    const Outcome run = impx({"a.imp"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, "Refusing resource type \"" + c.shown +
                           "\": it must name one file in the book's directory\n" + kPrompt);
    EXPECT_EQ(output("Novel"), (Files{{"RSRC.INF", expected_info_file(book)}, {"TEXT", "text"}}))
        << c.shown;
    remove_tree(work + "/Novel");
  }
}

TEST_F(WindowsTest, NamesWindowsOnlyTrimStayInside) {
  TestBook book = book_named("Trimmed.");
  book.resources.push_back({"abc.", "dot"});
  book.resources.push_back({"xy  ", "blanks"});
  put("a.imp", make_book(book));
  const Outcome run = impx({"a.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  Files inside;
  for (const auto& [path, bytes] : everything()) {
    if (path != "work" && path != "work/a.imp") inside[path] = bytes;
  }
  EXPECT_EQ(inside.size(), 5u);
  for (const auto& [path, bytes] : inside) EXPECT_EQ(path.rfind("work/Trimmed", 0), 0u) << path;
}

}  // namespace
