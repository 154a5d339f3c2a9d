// The command line, the run control and the output directory, seen from outside the process.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/sandbox.h"
#include "unpack/unpack.h"

namespace {

class RunTest : public Sandbox {};

std::filesystem::perms fs_perms(unsigned bits) {
  return static_cast<std::filesystem::perms>(bits);
}

bool have_strace() {
  return std::system("strace -V >/dev/null 2>&1") == 0;
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
  // The prompt takes one line of at most 18 characters and leaves the rest to the next program,
  // also from a pipe.
  Limits then_cat;
  then_cat.input_from_pipe = true;
  then_cat.wrapper = {"sh", "-c", "\"$0\" \"$@\"; status=$?; cat; exit $status"};
  const std::pair<std::string, std::string> lines[] = {
      {"0123456789abcdefghijklmnop\nNEXT\n", "ijklmnop\nNEXT\n"},
      {"a\nNEXT\n", "NEXT\n"},
      {"", ""},
  };
  for (const auto& [input, left] : lines) {
    const Outcome prompted = impx({"missing.imp"}, input, then_cat);
    EXPECT_EQ(prompted.status, 255) << input;
    EXPECT_EQ(prompted.out, left) << input;
  }
  // Messages nobody can read still end the run with its status, not with a signal.
  if (!windows_target()) {
    EXPECT_EQ(impx({}, "", Limits{0, 0, 0, true}).status, 255);
  }
}

TEST_F(RunTest, BareNameUnpacksBesideTheBookAndPrintsNothing) {
  const TestBook book = book_named("Novel");
  put("a.imp", make_book(book));
  const mode_t umask_before = umask(027);
  const Outcome run = impx({"a.imp"});
  umask(umask_before);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  if (!windows_target()) {  // the default permissions, less the umask
    EXPECT_EQ(std::filesystem::status(work + "/Novel").permissions(), fs_perms(0750));
    EXPECT_EQ(std::filesystem::status(work + "/Novel/RSRC.INF").permissions(), fs_perms(0640));
  }
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

// Whether a process working in `directory` is blocked opening a named pipe.
bool blocked_opening_a_fifo(const std::string& directory) {
  for (const auto& process : std::filesystem::directory_iterator("/proc")) {
    std::error_code error;
    if (std::filesystem::read_symlink(process.path() / "cwd", error) == directory &&
        read_file((process.path() / "wchan").string()) == "wait_for_partner") {
      return true;
    }
  }
  return false;
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
        wait_until([&] { return blocked_opening_a_fifo(work); });
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
      if (!wait_until([&] { return exists(work + "/Novel"); })) return;
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

// Faults of the system, injected by strace into the calls on one file, are reported as what they
// are, never as a book cut short or as another call's fault; where the kernel's copy is refused
// or fails, read and write copy the resource instead.
TEST_F(RunTest, InjectedFaultsAreReportedAsWhatTheyAre) {
  if (windows_target()) GTEST_SKIP() << "strace injects faults into POSIX calls";
  if (!have_strace()) GTEST_SKIP() << "needs strace (package strace)";
  TestBook long_info = book_named("Novel");
  long_info.info = std::string(65535, 'i');  // longer than the first read of the book
  const TestBook data = book_named("Novel", {{"TEXT", patterned_bytes(200000)}});
  const TestBook twice = book_named("Novel", {{"DUPL", "one"}, {"DUPL", "two"}});
  const TestBook large =
      book_named("Novel", {{"LARG", patterned_bytes(kKernelCopyMin + 4097)}, {"LAST", "last"}});
  const struct {
    const char* what;
    const TestBook& book;
    std::string path;     // below the run's directory: the file whose calls fail; "" for all
    std::string inject;   // strace's -e inject= argument
    bool in_memory;       // the run is in /dev/shm, where the kernel copies large resources
    std::string message;  // "" when the run unpacks the book whole
  } faults[] = {
      {"making the output directory", long_info, "", "mkdir,mkdirat:error=EACCES", false,
       "mkdir: Permission denied\n"},
      {"closing a resource's file", data, "Novel/TEXT", "close:error=EIO", false,
       "close: Input/output error\n"},
      {"reading the info block", long_info, "a.imp", "read:error=EIO:when=2", false,
       "read: Input/output error\n"},
      {"reading a resource's data", data, "a.imp", "read:error=EIO:when=2", false,
       "read: Input/output error\n"},
      {"checking a resource's file again", twice, "Novel/DUPL", "%%stat:error=EIO", false,
       "out: Input/output error\n"},
      {"moving the book past the kernel's copy", large, "a.imp", "/^(_llseek|lseek)$:error=EIO",
       true, "read: Input/output error\n"},
      {"the kernel's copy refused", large, "a.imp", "copy_file_range:error=EXDEV", true, ""},
      {"the kernel's copy failing", large, "a.imp", "/^(copy_file_range|sendfile(64)?)$:error=EIO",
       true, ""},
  };
  for (const auto& [what, book, path, inject, in_memory, message] : faults) {
    const std::string directory = in_memory ? make_temp_directory("/dev/shm") : work;
    write_file(directory + "/a.imp", make_book(book));
    Limits traced;
    traced.wrapper = {
        "strace",          "-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
        "inject=" + inject};
    if (!path.empty()) traced.wrapper.insert(traced.wrapper.end(), {"-P", directory + "/" + path});
    const Outcome run = run_impx({"a.imp"}, directory, "", traced);
    if (message.empty()) {
      EXPECT_EQ(run.status, 0) << what << ": " << run.err;
      const Files whole{{"RSRC.INF", expected_info_file(book)},
                        {"LARG", book.resources[0].data},
                        {"LAST", "last"}};
      EXPECT_TRUE(tree(directory + "/Novel") == whole) << what;  // too large to be shown
    } else {
      EXPECT_EQ(run.status, 255) << what;
      EXPECT_EQ(run.err, message + kPrompt) << what;
    }
    remove_tree(directory + "/Novel");
    if (in_memory) remove_tree(directory);
  }
}

// Memory that runs out, wherever it is asked for (here for a path as long as an argument may be),
// ends the run with the message and -1, never with an uncaught exception.
TEST_F(RunTest, MemoryRunningOutEndsTheRunWithTheMessage) {
  if (windows_target()) GTEST_SKIP() << "address-space limits are a POSIX matter";
  if (emulated()) GTEST_SKIP() << "the limits are smaller than what the emulator needs itself";
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limits";
#endif
  // The least address space in which impx starts at all, to within 64 KiB.
  long low = 1L << 20, high = 1L << 30;
  while (high - low > (64L << 10)) {
    const long middle = (low + high) / 2;
    (impx({}, "", Limits{middle}).status == 255 ? high : low) = middle;
  }
  const std::string path = std::string(130000, 'd') + "/a.imp";
  bool ran_out = false;
  for (long limit = high; limit < high + (2L << 20) && !ran_out; limit += 16L << 10) {
    const Outcome run = impx({path}, "", Limits{limit});
    if (run.status != 255) {
      EXPECT_NE(run.status, 128 + SIGABRT) << run.err;
      continue;  // too little to start with so long an argument
    }
    ran_out = run.err == "Out of memory\n" + std::string(kPrompt);
    if (!ran_out) {
      EXPECT_EQ(run.err, "fopen: File name too long\n" + std::string(kPrompt));
    }
  }
  EXPECT_TRUE(ran_out);
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
  put("a.imp", make_book(book_named("Novel", {}, 2, "new info")));
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
  const TestBook empty = book_named("Empty", {}, 2, "");
  const TestBook v2 = book_named("Three", {}, 2, std::string(300, '\x07'));
  const TestBook largest = book_named("Largest", {}, 2, std::string(65535, '\xA5'));
  const TestBook v1 = book_named("One", {}, 1, "v1 info");
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
  const std::string book = make_book(book_named("Novel", {}, 2, std::string(100, 'i')));
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
