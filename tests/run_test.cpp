// The command line, the run control and the output directory, seen from outside the process.
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "tests/sandbox.h"
#include "unpack/unpack.h"

namespace fs = std::filesystem;

namespace {

constexpr auto npos = std::string::npos;

class RunTest : public Sandbox {};

TEST_F(RunTest, NoArgumentPrintsUsageThenPromptsAndFails) {
  const Outcome run = impx({});
  EXPECT_EQ(run.status, 255);
  // The program as it was started: under wine, by its path on drive Z:.
  EXPECT_EQ(run.err,
            "Usage: " + target_paths({impx_program()})[0] + " <impfile1>...<impfilen>\n" + kPrompt);
  EXPECT_EQ(run.out, "");
  // The prompt takes one line of at most 18 characters and leaves the rest to the next program,
  // also from a pipe. From a terminal in line mode it takes the whole typed line, so that none of
  // it reaches the shell after the run; a line typed ahead of it stays. A terminal that hands over
  // each key (raw, -icanon) is read as a pipe is, where Enter may come as a carriage return. The
  // terminal is asked at each read: a run that found it handing over each key, as a shell's line
  // editor leaves it to a job stopped in the background, takes the line whole once it is in line
  // mode again, as fg brings it back (held by strace after its first ioctl, then switched). Under
  // wine the terminal is a console, in line-input mode or, through console_keys, key by key, and
  // what is left is the line that cmd reads next.
  Limits then_cat, at_terminal;
  then_cat.input_from_pipe = true;
  then_cat.wrapper = {"sh", "-c", "\"$0\" \"$@\"; status=$?; cat; exit $status"};
  int terminal = -1;
  if (openpty(&terminal, &at_terminal.input_terminal, nullptr, nullptr, nullptr) != 0) {
    std::cout << "not run: the terminal (no pseudo-terminal here)\n";
  }
  termios line_mode{}, raw_mode{}, key_mode{}, brought_back{};
  if (at_terminal.input_terminal >= 0) tcgetattr(at_terminal.input_terminal, &line_mode);
  raw_mode = key_mode = brought_back = line_mode;
  cfmakeraw(&raw_mode);
  key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
  const struct {
    std::string input, left, left_at_terminal, left_at_keys;
  } lines[] = {
      {"0123456789abcdefghijklmnop\nNEXT\n", "ijklmnop\nNEXT\n", "NEXT\n", "ijklmnop\nNEXT\n"},
      {std::string(24, 'j') + "\nNEXT\n", "jjjjjj\nNEXT\n", "NEXT\n", "jjjjjj\nNEXT\n"},
      {"a\nNEXT\n", "NEXT\n", "NEXT\n", "NEXT\n"},
      {"a\rNEXT\n", "", "NEXT\n", "NEXT\n"},
      {"0123456789abcdefg\rXYZ\n", "XYZ\n", "XYZ\n", "XYZ\n"},
      {"", "", "", ""},
  };
  for (const auto& [input, left, left_at_terminal, left_at_keys] : lines) {
    const Outcome prompted = impx({"missing.imp"}, input, then_cat);
    EXPECT_EQ(prompted.status, 255) << input;
    EXPECT_EQ(prompted.out, left) << input;
    for (const auto& [mode, shown] :
         {std::pair{&line_mode, ""}, std::pair{&raw_mode, " (raw)"},
          std::pair{&key_mode, " (-icanon)"}, std::pair{&brought_back, " (fg)"}}) {
      if (at_terminal.input_terminal < 0 || input.empty()) continue;
      const bool fg = mode == &brought_back;
      const std::string& left_typed = mode == &line_mode || fg ? left_at_terminal : left_at_keys;
      if (windows_target() && mode != &raw_mode && !fg) {  // wine's console sees Enter only raw
        tcsetattr(at_terminal.input_terminal, TCSANOW, &raw_mode);
        tcflush(at_terminal.input_terminal, TCIFLUSH);
        std::string typed = input;
        std::replace(typed.begin(), typed.end(), '\n', '\r');
        // Typed once the run waits at its prompt: keys typed before wine's console is ready can
        // be lost.
        write_file(work + "/err", "");
        std::thread typist([&] {
          for (int waits = 0; waits < 20000 && read_file(work + "/err").find("Press") == npos;
               ++waits) {
            usleep(1000);
          }
          EXPECT_EQ(write(terminal, typed.data(), typed.size()),
                    static_cast<ssize_t>(typed.size()));
        });
        const auto paths = target_paths({env("IMPX_CONSOLE_KEYS"), impx_program()});
        const bool keys = mode == &key_mode;  // line input off for impx.exe, on again for cmd
        const std::string off = keys ? paths[0] + " & " : "", on = keys ? paths[0] + " on & " : "";
        const Outcome next =
            run_command({env("IMPX_RUNNER"), "cmd", "/v:on", "/c",
                         off + paths[1] + " missing.imp 2>err & " + on + "set /p L=& echo [!L!]"},
                        work, "", at_terminal);
        typist.join();
        EXPECT_EQ(next.out, "[" + left_typed.substr(0, left_typed.find('\n')) + "]\n")
            << input << shown;
      }
      if (windows_target() || (fg && no_strace())) continue;
      const auto type = [&] {  // for fg, once the run has asked and is held
        if (fg) tcsetattr(at_terminal.input_terminal, TCSANOW, &line_mode);
        EXPECT_EQ(write(terminal, input.data(), input.size()), static_cast<ssize_t>(input.size()));
      };
      tcsetattr(at_terminal.input_terminal, TCSANOW, fg ? &key_mode : mode);
      if (!fg) type();
      const Outcome typed_at =
          fg ? impx_held({"missing.imp"}, "ioctl", "", type, at_terminal.input_terminal)
             : impx({"missing.imp"}, "", at_terminal);
      EXPECT_EQ(typed_at.status, 255) << input << shown;
      std::string still_typed(64, '\0');  // what one read takes: a line, or every key left
      fcntl(at_terminal.input_terminal, F_SETFL, O_NONBLOCK);
      still_typed.resize(
          std::max(read(at_terminal.input_terminal, &still_typed[0], 64), ssize_t{0}));
      fcntl(at_terminal.input_terminal, F_SETFL, 0);
      EXPECT_EQ(still_typed, left_typed) << input << shown;
    }
  }
  // Messages nobody can read still end the run with its status, not with a signal.
  if (!windows_target()) {
    Limits unread;
    unread.dead_stderr = true;
    EXPECT_EQ(impx({}, "", unread).status, 255);
  }
}

// Runs that end as a table says: books in, status, message and the tree afterwards. A book that
// holds no resources leaves only RSRC.INF.
std::vector<Row> run_rows() {
  const TestBook novel = book_named("Novel"), a = book_named("A"), b = book_named("B"),
                 c = book_named("C"), odd = book_named("a\\b: \x1b[1m\xE9*?"),
                 zero = book_named(std::string("Ab\0cd", 5)),
                 three = book_named("Three", {}, 2, std::string(300, '\x07')),
                 largest = book_named("Largest", {}, 2, std::string(65535, '\xA5')),
                 one = book_named("One", {}, 1, "v1 info");
  const std::string& prefix = layout::kInfoFilePrefix;
  std::vector<Row> rows = {
      {"BareNameUnpacksBesideTheBookAndPrintsNothing",
       book_run(make_book(novel), "", unpacked("Novel", novel))},
      // After a book in a folder, the next relative path is taken from the starting directory.
      {"RelativeAndAbsolutePathsUnpackBesideTheBook",
       RowRun{{{"books/a.imp", make_book(a)},
               {"deep/er/b.imp", make_book(b)},
               {"c.imp", make_book(c)}},
              {"books/a.imp", "{work}/deep/er/b.imp", "c.imp"},
              "",
              unpacked("books/A", a) + unpacked("deep/er/B", b) + unpacked("C", c)}},
      {"EmptyPathReportsFopen", RowRun{{}, {""}, kMissing, {}}},
      {"MissingBookAfterAGoodOneReportsFopen", RowRun{{{"a.imp", make_book(a)}},
                                                      {"a.imp", "missing.imp", "a.imp"},
                                                      kMissing,
                                                      unpacked("A", a)}},
      {"ExistingOutputDirectoryIsRefusedAndLeftUntouched",
       RowRun{{{"a.imp", make_book(novel)}, {"Novel/RSRC.INF", "old info"}, {"Novel/keep", "kept"}},
              {"a.imp"},
              kExists,
              {}}},
      {"SameBookTwiceFindsTheFirstOnesOutput",
       RowRun{{{"a.imp", make_book(a)}}, {"a.imp", "a.imp"}, kExists, unpacked("A", a)}},
      // The header's checks are the reader's; here the process is seen to create nothing.
      {"UnknownVersionCreatesNothing",
       book_run(make_book(book_named("Novel", {}, 3)), "Unknown IMP file version 3\n", {})},
      {"InfoFileHoldsTheFixedPrefixAndTheWholeInfoBlock",
       RowRun{{{"e.imp", make_book(book_named("Empty", {}, 2, ""))},
               {"t.imp", make_book(three)},
               {"l.imp", make_book(largest)},
               {"o.imp", make_book(one)}},
              {"e.imp", "t.imp", "l.imp", "o.imp"},
              "",
              Files{{"Empty", "<dir>"},
                    {"Empty/RSRC.INF", prefix + std::string(2, '\0')},
                    {"Three", "<dir>"},
                    {"Three/RSRC.INF", prefix + "\x01\x2C" + std::string(300, '\x07')}} +
                  unpacked("Largest", largest) + unpacked("One", one)}},
      {"BookNameEndsAtItsFirstZeroByte", book_run(make_book(zero), "", unpacked("Ab", zero))},
      {"NamesThatAreFineOnPosixPassUnchanged",
       book_run(make_book(odd), "", unpacked(odd.name, odd)), Only::posix},
  };
  rows.push_back({"HundredsOfBooksNeedFewDescriptors",
                  {},
                  Only::posix,
                  [] {  // made when it runs: 300 books; no descriptor outlives its book
                    RowRun hundreds;
                    hundreds.limits.open_files = 32;
                    for (int i = 0; i < 300; ++i) {
                      const TestBook book = book_named("N" + std::to_string(i), {{"TEXT", "text"}});
                      hundreds.args.push_back("b" + std::to_string(i) + ".imp");
                      hundreds.put[hundreds.args.back()] = make_book(book);
                      hundreds.added = hundreds.added + unpacked(book.name, book);
                    }
                    return hundreds;
                  }});
  add_refusals(rows, "HostileIsRefused",
               {"", Refusal(std::string("\0abc", 4), ""), ".", "..", "../evil", "a/b", "/tmp",
                Refusal("..\x1b[31m/x\\y", "..\\x1B[31m/x\\x5Cy")},
               {});
  return rows;
}
INSTANTIATE_TEST_SUITE_P(RunTest, Rows, testing::ValuesIn(run_rows()), row_name<Row>);

// Every table row: the run ends with the row's status and exact message, and the whole tree
// afterwards is what the row put there and what it says the run adds.
TEST_P(Rows, Run) {
  if (GetParam().only == Only::posix && windows_target()) GTEST_SKIP() << "POSIX's rules";
  if (GetParam().only == Only::windows && !windows_target())
    GTEST_SKIP() << "runs against impx.exe";
  const RowRun row = GetParam().make ? GetParam().make() : GetParam().run;
  const char* no_limit = row.limits.address_space > 0 ? no_address_space_limit() : nullptr;
  if (no_limit != nullptr) GTEST_SKIP() << no_limit;
  Files expected{{"work", "<dir>"}};
  for (const Files* files : {&row.put, &row.added}) {
    for (const auto& [path, bytes] : *files) {
      expected["work/" + path] = bytes;
      for (fs::path up = fs::path(path).parent_path(); !up.empty(); up = up.parent_path()) {
        expected["work/" + up.generic_string()] = "<dir>";
      }
    }
  }
  for (const auto& [path, bytes] : row.put) put(path, bytes);
  std::vector<std::string> args = row.args;  // "{work}/a" is an absolute path
  for (std::string& arg : args)
    if (arg.rfind("{work}", 0) == 0) arg.replace(0, 6, work);
  const mode_t umask_before = umask(002);  // one that takes away what a mode of 0755 would not
  const Outcome run = impx(target_paths(args), "", row.limits, row.start);
  umask(umask_before);
  EXPECT_EQ(run.status, row.message.empty() ? 0 : 255);
  EXPECT_EQ(run.err, row.message.empty() ? "" : row.message + kPrompt);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(tree(sandbox), expected);
  // What the run makes has the default permissions, less the umask.
  for (const auto& [path, bytes] : row.added) {
    if (windows_target() || row.put.count(path) != 0) continue;
    const auto mode = fs::status(work + "/" + path).permissions();
    EXPECT_EQ(mode, static_cast<fs::perms>(bytes == "<dir>" ? 0775 : 0664)) << path;
  }
}

// The run reaches its folders by handles, not by name: a starting directory moved away while the
// first book is read is still where the second book is found (Windows keeps a process's current
// directory from being moved); the folder a book is read from is the folder its output goes to,
// even when the folder is swapped for a symlink once the run holds it, before the book is opened
// in it (on POSIX; wine's server, not the run, opens the folder), or once the book is open.
TEST_F(RunTest, FoldersMovedDuringTheRunKeepTheirPlace) {
  if (const char* why = no_strace()) GTEST_SKIP() << why;
  const std::string elsewhere = sandbox + "/elsewhere", books = work + "/books";
  const auto swap_books = [&] {
    fs::rename(books, work + "/moved");
    fs::create_directory_symlink(elsewhere, books);
  };
  const auto move_start = [&] { fs::rename(work, sandbox + "/moved"); };
  const struct {
    std::vector<std::string> args, outputs;  // the outputs below the sandbox
    const char *call, *path;
    std::function<void()> move;
    bool posix_only;
  } moves[] = {
      {{"a.imp", "b.imp"}, {"moved/First", "moved/Second"}, "read", "a.imp", move_start, true},
      {{books + "/a.imp"}, {"work/moved/Novel"}, "open,openat", "books", swap_books, true},
      {{books + "/a.imp"}, {"work/moved/Novel"}, "/^p?read(64)?$", "books/a.imp", swap_books},
  };
  for (const auto& [args, outputs, call, path, move, posix_only] : moves) {
    if (posix_only && windows_target()) continue;
    fs::create_directories(elsewhere);
    put("a.imp", make_book(book_named("First")));
    put("b.imp", make_book(book_named("Second")));
    put("books/a.imp", make_book(book_named("Novel")));
    const Outcome run = impx_held(target_paths(args), call, path, move);
    EXPECT_EQ(run.status, 0) << call << run.err;
    EXPECT_EQ(run.err, "") << call;
    EXPECT_EQ(tree(elsewhere).size(), 0u) << call;
    for (const std::string& output : outputs) {
      const TestBook book = book_named(fs::path(output).filename().string());
      EXPECT_EQ(tree(sandbox + "/" + output), (Files{{"RSRC.INF", expected_info_file(book)}}));
    }
    reset();
  }
}

// Faults of the system, injected by strace into the calls on one file, are reported as what they
// are, never as a book cut short or as another call's fault; where the kernel's copy is refused
// or fails, read and write copy the resource instead.
TEST_F(RunTest, InjectedFaultsAreReportedAsWhatTheyAre) {
  if (windows_target()) GTEST_SKIP() << "strace injects faults into POSIX calls";
  if (const char* why = no_strace()) GTEST_SKIP() << why;
  // Its info block is longer than the first read of the book.
  const TestBook long_info = book_named("Novel", {}, 2, std::string(65535, 'i'));
  const TestBook data = book_named("Novel", {{"TEXT", patterned_bytes(200000)}});
  const TestBook twice = book_named("Novel", {{"DUPL", "one"}, {"DUPL", "two"}});
  const TestBook large =
      book_named("Novel", {{"LARG", patterned_bytes(kKernelCopyMin + 4097)}, {"LAST", "last"}});
  const struct {
    const char* what;
    const TestBook& book;
    // The file whose calls fail, below the run's directory ("." for that directory, "" for all),
    // what strace injects into them, and the run's message ("" when it unpacks the book whole).
    std::string path, inject, message;
  } faults[] = {
      {"making the output directory", long_info, "", "mkdir,mkdirat:error=EACCES",
       "mkdir: Permission denied\n"},
      {"listing the new output directory", data, "Novel", "/^fcntl(64)?$:error=EBADF",
       "mkdir: Bad file descriptor\n"},
      {"holding the new output directory", data, ".", "openat:error=EIO:when=2",
       "mkdir: Input/output error\n"},
      {"a symlink in its place, as POSIX names it", data, ".", "openat:error=ELOOP:when=2", kTaken},
      {"closing the info file", data, "Novel/RSRC.INF", "close:error=EIO",
       "close: Input/output error\n"},
      {"closing a resource's file", data, "Novel/TEXT", "close:error=EIO",
       "close: Input/output error\n"},
      {"reading the info block", long_info, "a.imp", "read:error=EIO:when=2",
       "read: Input/output error\n"},
      {"reading a resource's data", data, "a.imp", "read:error=EIO:when=2",
       "read: Input/output error\n"},
      {"checking a resource's file again", twice, "Novel/DUPL", "%%stat:error=EIO",
       "out: Input/output error\n"},
      {"moving the book past the kernel's copy", large, "a.imp", "/^(_llseek|lseek)$:error=EIO",
       "read: Input/output error\n"},
      {"the kernel's copy refused", large, "a.imp", "copy_file_range:error=EXDEV", ""},
      {"the kernel's copy failing", large, "a.imp", "/^(copy_file_range|sendfile(64)?)$:error=EIO",
       ""},
  };
  if (memory_folder().empty()) GTEST_SKIP() << "needs a writable /dev/shm, where the kernel copies";
  base = memory_folder();  // a sandbox there in place of the one in the temporary directory
  TearDown();
  SetUp();
  for (const auto& [what, book, path, inject, message] : faults) {
    put("a.imp", make_book(book));
    const std::string on = path.empty() ? "" : path == "." ? work : work + "/" + path;
    const Outcome run = impx({"a.imp"}, "", traced(inject, on));
    EXPECT_EQ(run.status, message.empty() ? 0 : 255) << what;
    EXPECT_EQ(run.err, message.empty() ? "" : message + kPrompt) << what;
    if (message.empty()) {  // too large to be shown
      EXPECT_TRUE((tree(work) == unpacked("Novel", book) + Files{{"a.imp", make_book(book)}}));
    }
    reset();
  }
}

// Memory that runs out, wherever it is asked for (here for a path as long as an argument may be),
// ends the run with the message and -1, never with an uncaught exception.
TEST_F(RunTest, MemoryRunningOutEndsTheRunWithTheMessage) {
  if (const char* why = no_address_space_limit()) GTEST_SKIP() << why;
  // The least address space in which impx starts at all, to within 64 KiB.
  long low = 1L << 20, high = 1L << 30;
  Limits limits;
  while (high - low > (64L << 10)) {
    const long middle = (low + high) / 2;
    limits.address_space = middle;
    (impx({}, "", limits).status == 255 ? high : low) = middle;
  }
  const std::string path = std::string(130000, 'd') + "/a.imp";
  bool ran_out = false;
  for (limits.address_space = high; limits.address_space < high + (2L << 20) && !ran_out;
       limits.address_space += 16L << 10) {
    const Outcome run = impx({path}, "", limits);
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

// A book in a root has its output in that root however the path names it: "/" on POSIX; on
// Windows by its drive, as a device path to the drive, or as the root of the current drive (Z:,
// which wine maps to /).
TEST_F(RunTest, BookInARootHasItsOutputInThatRoot) {
  const std::string drive = sandbox + "/drive", stem = "impx-root-" + std::to_string(getpid());
  std::vector<std::pair<std::string, std::string>> forms = {{"/", ""}};  // a root, where it is
  const fs::path letter = fs::path(env("WINEPREFIX")) / "dosdevices" / "y:";
  if (windows_target()) {
    ASSERT_NE(env("WINEPREFIX"), "");
    fs::create_directory(drive);
    fs::remove(letter);
    fs::create_directory_symlink(drive, letter);
    forms = {{"Y:\\", drive}, {"\\\\?\\Y:\\", drive}, {"\\\\.\\Y:\\", drive}, {"\\", ""}};
  }
  const TestBook book = book_named(stem, {{"TEXT", "text"}});
  for (const auto& [root, folder] : forms) {
    try {
      write_file(folder + "/" + stem + ".imp", make_book(book));
    } catch (const std::exception&) {
      if (!windows_target()) GTEST_SKIP() << "the root is not writable here";
      std::cout << "not run: " << root << " (the file system's root is not writable here)\n";
      continue;
    }
    const Outcome run = impx({root + stem + ".imp"});
    EXPECT_EQ(run.status, 0) << root;
    EXPECT_EQ(run.err, "") << root;
    EXPECT_EQ(tree(folder + "/" + stem),
              (Files{{"RSRC.INF", expected_info_file(book)}, {"TEXT", "text"}}))
        << root;
    remove_tree(folder + "/" + stem);
    fs::remove(folder + "/" + stem + ".imp");
  }
  if (windows_target()) fs::remove(letter);
  fs::remove(drive);
  EXPECT_EQ(tree(sandbox), (Files{{"work", "<dir>"}}));
}

}  // namespace
