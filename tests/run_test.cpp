// The command line, the run control and the output directory, seen from outside the process.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/sandbox.h"

namespace {

class RunTest : public Sandbox {};

TestBook book_with_info(const std::string& name, const std::string& info) {
  TestBook book = book_named(name);
  book.info = info;
  return book;
}

TEST_F(RunTest, NoArgumentPrintsUsageThenPromptsAndFails) {
  const Outcome run = impx({});
  EXPECT_EQ(run.status, 255);
  const std::string tail = " <impfile1>...<impfilen>\n" + std::string(kPrompt);
  ASSERT_GE(run.err.size(), tail.size());
  EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail);
  if (!windows_target()) {
    EXPECT_EQ(run.err, "Usage: " + impx_program() + tail);
  }
  EXPECT_EQ(run.out, "");
  // The prompt also ends on a line longer than it takes.
  EXPECT_EQ(impx({}, std::string(100, 'y') + "\n").status, 255);
  // Messages nobody can read still end the run with its status, not with a signal.
  if (!windows_target()) {
    EXPECT_EQ(impx({}, "", Limits{0, 0, 0, true}).status, 255);
  }
}

TEST_F(RunTest, BareNameUnpacksBesideTheBookAndPrintsNothing) {
  const TestBook book = book_named("Novel");
  put("a.imp", make_book(book));
  const Outcome run = impx({"a.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(everything(), (Files{{"work", "<dir>"},
                                 {"work/a.imp", make_book(book)},
                                 {"work/Novel", "<dir>"},
                                 {"work/Novel/RSRC.INF", expected_info_file(book)}}));
}

TEST_F(RunTest, RelativeAndAbsolutePathsUnpackBesideTheBook) {
  put("books/a.imp", make_book(book_named("First")));
  put("deep/er/b.imp", make_book(book_named("Second")));
  const Outcome run = impx({"books/a.imp", work + "/deep/er/b.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(output("books"), (Files{{"a.imp", make_book(book_named("First"))},
                                    {"First", "<dir>"},
                                    {"First/RSRC.INF", expected_info_file(book_named("First"))}}));
  EXPECT_EQ(output("deep/er/Second"),
            (Files{{"RSRC.INF", expected_info_file(book_named("Second"))}}));
}

TEST_F(RunTest, EveryPathIsTakenFromTheStartingDirectory) {
  put("a.imp", make_book(book_named("A")));
  put("books/b.imp", make_book(book_named("B")));
  put("c.imp", make_book(book_named("C")));
  const Outcome run = impx({"a.imp", "books/b.imp", "c.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(output("A").size(), 1u);
  EXPECT_EQ(output("books/B").size(), 1u);
  EXPECT_EQ(output("C").size(), 1u);
}

// The run returns to where it started by a handle, not by name: a starting directory moved away
// while the first book is read is still where the second book is found.
TEST_F(RunTest, StartingDirectoryMovedDuringTheRunStillHoldsTheNextBook) {
  if (windows_target()) GTEST_SKIP() << "named pipes are a POSIX matter";
  const std::string moved = sandbox + "/moved";
  put("b.imp", make_book(book_named("Second")));
  const Outcome run = impx_reading_pipe({"a.imp", "b.imp"}, "a.imp", make_book(book_named("First")),
                                        0, [&] { std::rename(work.c_str(), moved.c_str()); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(tree(moved + "/First").size(), 1u);
  EXPECT_EQ(tree(moved + "/Second").size(), 1u);
}

// Waits until a process working in `directory` is blocked opening a named pipe.
void wait_until_blocked_opening_a_fifo(const std::string& directory) {
  for (int waited = 0; waited < 10000; ++waited, usleep(1000)) {
    for (const auto& process : std::filesystem::directory_iterator("/proc")) {
      std::error_code error;
      if (std::filesystem::read_symlink(process.path() / "cwd", error) == directory &&
          read_file((process.path() / "wchan").string()) == "wait_for_partner") {
        return;
      }
    }
  }
}

// The folder a book is read from is the folder its output goes to, even when the folder is
// swapped for a symlink while the run waits for the book to open (on POSIX), or once it is open.
TEST_F(RunTest, BookFolderSwappedDuringTheRunKeepsTheOutput) {
  const std::string elsewhere = sandbox + "/elsewhere";
  const auto swap = [&] {
    std::filesystem::rename(work + "/books", work + "/moved");
    std::filesystem::create_directory_symlink(elsewhere, work + "/books");
  };
  for (const bool while_opening : {true, false}) {
    if (while_opening && windows_target()) continue;  // wine opens a named pipe without waiting
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directories(work + "/books");
    Outcome run;
    if (while_opening) {
      ASSERT_EQ(mkfifo((work + "/books/a.imp").c_str(), 0600), 0);
      std::thread writer([&] {
        wait_until_blocked_opening_a_fifo(work);
        swap();
        write_file(work + "/moved/a.imp", make_book(book_named("Novel")));
      });
      run = impx({"books/a.imp"});
      writer.join();
    } else {
      run = impx_reading_pipe({"books/a.imp"}, "books/a.imp", make_book(book_named("Novel")), 0,
                              swap);
    }
    EXPECT_EQ(run.status, 0) << while_opening << run.err;
    EXPECT_EQ(tree(elsewhere).size(), 0u) << while_opening;
    EXPECT_TRUE(std::filesystem::exists(work + "/moved/Novel/RSRC.INF")) << while_opening;
    remove_tree(work);
    remove_tree(elsewhere);
    std::filesystem::create_directory(work);
  }
}

// Whatever is put in place of the new output directory between its making and its holding
// (strace holds the run there) is refused, never written into: a symlink, or a directory of the
// same user's with something in it, such as an earlier book's output.
TEST_F(RunTest, OutputDirectorySwappedBeforeItIsHeldIsRefused) {
  if (windows_target()) GTEST_SKIP() << "impx.exe makes and holds it in one call";
  if (std::system("strace -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs strace (package strace)";
  const std::string elsewhere = sandbox + "/elsewhere";
  const struct {
    const char* what;
    void (*swap)(const std::string& elsewhere, const std::string& novel);
  } swaps[] = {
      {"symlink", [](auto& to, auto& at) { std::filesystem::create_directory_symlink(to, at); }},
      {"directory", [](auto& from, auto& at) { std::filesystem::rename(from, at); }},
  };
  put("a.imp", make_book(book_named("Novel", {{"TEXT", "text"}})));
  for (const auto& [what, swap] : swaps) {
    std::filesystem::create_directories(elsewhere);
    write_file(elsewhere + "/TEXT", "earlier");
    std::thread swapper([&] {
      if (!wait_for(work + "/Novel")) return;
      std::filesystem::remove(work + "/Novel");
      swap(elsewhere, work + "/Novel");
    });
    // LeakSanitizer, in the sanitizer build, cannot work under ptrace.
    Limits held;
    held.wrapper = {"strace", "-f",
                    "-o",     "/dev/null",
                    "-E",     "ASAN_OPTIONS=detect_leaks=0",
                    "-e",     "inject=mkdir,mkdirat:delay_exit=300000"};
    const Outcome run = impx({"a.imp"}, "", held);
    swapper.join();
    EXPECT_EQ(run.status, 255) << what;
    EXPECT_EQ(run.err, "Refusing output directory \"Novel\": something else took its place\n" +
                           std::string(kPrompt))
        << what;
    EXPECT_EQ(tree(work + "/Novel"), (Files{{"TEXT", "earlier"}})) << what;
    remove_tree(work + "/Novel");
    remove_tree(elsewhere);
  }
}

// No descriptor outlives its book.
TEST_F(RunTest, HundredsOfBooksNeedFewDescriptors) {
  if (windows_target()) GTEST_SKIP() << "descriptor limits are a POSIX matter";
  std::vector<std::string> books;
  for (int i = 0; i < 300; ++i) {
    books.push_back("b" + std::to_string(i) + ".imp");
    put(books.back(), make_book(book_named("N" + std::to_string(i), {{"TEXT", "text"}})));
  }
  const Outcome run = impx(books, "", Limits{0, 0, 32});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(output("N299").size(), 2u);
}

TEST_F(RunTest, MissingBookAfterAGoodOneReportsFopen) {
  put("a.imp", make_book(book_named("A")));
  EXPECT_EQ(impx({""}).err, "fopen: No such file or directory\n" + std::string(kPrompt));
  const Outcome run = impx({"a.imp", "missing.imp", "a.imp"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, "fopen: No such file or directory\n" + std::string(kPrompt));
  EXPECT_EQ(output("A"), (Files{{"RSRC.INF", expected_info_file(book_named("A"))}}));
}

TEST_F(RunTest, ExistingOutputDirectoryIsRefusedAndLeftUntouched) {
  put("a.imp", make_book(book_with_info("Novel", "new info")));
  put("Novel/RSRC.INF", "old info");
  put("Novel/keep", "kept");
  const Files before = everything();
  const Outcome run = impx({"a.imp"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err,
            "The res directory already exists.  Please delete it first\n" + std::string(kPrompt));
  EXPECT_EQ(everything(), before);

  // The same book twice in one run: the second finds the first one's output.
  put("b.imp", make_book(book_named("Other")));
  const Outcome twice = impx({"b.imp", "b.imp"});
  EXPECT_EQ(twice.status, 255);
  EXPECT_EQ(twice.err,
            "The res directory already exists.  Please delete it first\n" + std::string(kPrompt));
  EXPECT_EQ(output("Other").size(), 1u);
}

TEST_F(RunTest, HeaderFailureCreatesNothing) {
  put("short.imp", make_book(book_named("Novel")).substr(0, 23));
  TestBook bad = book_named("Novel");
  bad.version = 3;
  put("v3.imp", make_book(bad));
  const Files before = everything();
  EXPECT_EQ(impx({"short.imp"}).err, "Not an IMP file (couldn't read)\n" + std::string(kPrompt));
  const Outcome v3 = impx({"v3.imp"});
  EXPECT_EQ(v3.status, 255);
  EXPECT_EQ(v3.err, "Unknown IMP file version 3\n" + std::string(kPrompt));
  EXPECT_EQ(everything(), before);
}

TEST_F(RunTest, InfoFileHoldsTheFixedPrefixAndTheWholeInfoBlock) {
  TestBook empty = book_with_info("Empty", "");
  TestBook v2 = book_with_info("Three", std::string(300, '\x07'));
  TestBook largest = book_with_info("Largest", std::string(65535, '\xA5'));
  TestBook v1 = book_with_info("One", "v1 info");
  v1.version = 1;
  put("empty.imp", make_book(empty));
  put("three.imp", make_book(v2));
  put("largest.imp", make_book(largest));
  put("one.imp", make_book(v1));
  ASSERT_EQ(impx({"empty.imp", "three.imp", "largest.imp", "one.imp"}).status, 0);
  EXPECT_EQ(output("Empty")["RSRC.INF"], std::string("\x00\x01"
                                                     "BOOKVELT\x00\x00",
                                                     12));
  const std::string three = output("Three")["RSRC.INF"];
  ASSERT_EQ(three.size(), 312u);
  EXPECT_EQ(three.substr(0, 12), std::string("\x00\x01"
                                             "BOOKVELT\x01\x2C",
                                             12));
  EXPECT_EQ(output("Largest")["RSRC.INF"].size(), 65535u + 12);
  EXPECT_EQ(output("Largest")["RSRC.INF"], expected_info_file(largest));
  EXPECT_EQ(output("One")["RSRC.INF"], expected_info_file(v1));
}

TEST_F(RunTest, BookNameEndsAtItsFirstZeroByte) {
  put("a.imp", make_book(book_named(std::string("Ab\0cd", 5))));
  ASSERT_EQ(impx({"a.imp"}).status, 0);
  EXPECT_EQ(output("Ab").size(), 1u);
}

TEST_F(RunTest, HostileBookNamesAreRefusedBeforeAnythingIsCreated) {
  expect_book_names_refused({
      {"", ""},
      {std::string("\0abc", 4), ""},
      {".", "."},
      {"..", ".."},
      {"../evil", "../evil"},
      {"a/b", "a/b"},
      {"/tmp", "/tmp"},
      {"..\x1b[31m/x\\y", "..\\x1B[31m/x\\x5Cy"},
  });
}

TEST_F(RunTest, NamesThatAreFineOnPosixPassUnchanged) {
  if (windows_target()) GTEST_SKIP() << "Windows refuses these names";
  const std::string odd = "a\\b: \x1b[1m\xE9*?";
  put("a.imp", make_book(book_named(odd)));
  const Outcome run = impx({"a.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(output(odd).size(), 1u);
}

TEST_F(RunTest, InfoBlockOrNameCutShortIsRefusedBeforeAnythingIsCreated) {
  const std::string cut = "Not a complete IMP file (info block or name cut short)\n";
  const std::string book = make_book(book_with_info("Novel", std::string(100, 'i')));
  for (std::size_t length : {24, 50, 123, 128}) {
    put("a.imp", book.substr(0, length));
    const Files before = everything();
    const Outcome run = impx({"a.imp"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, cut + kPrompt) << length;
    EXPECT_EQ(everything(), before);
  }
}

TEST_F(RunTest, BookInTheRootHasItsOutputInTheRoot) {
  if (windows_target()) GTEST_SKIP() << "covered by the drive root test";
  const std::string stem = "impx-root-test-" + std::to_string(getpid());
  const std::string path = "/" + stem + ".imp";
  TestBook book = book_named(stem);
  try {
    write_file(path, make_book(book));
  } catch (const std::exception&) {
    GTEST_SKIP() << "the root is not writable here";
  }
  const Outcome run = impx({path});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(tree("/" + stem), (Files{{"RSRC.INF", expected_info_file(book)}}));
  EXPECT_EQ(everything(), (Files{{"work", "<dir>"}}));
  remove_tree("/" + stem);
  std::filesystem::remove(path);
}

}  // namespace
