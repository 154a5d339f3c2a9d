// Resource files: both versions end to end, and books that are cut short or hostile.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tests/sandbox.h"

namespace fs = std::filesystem;

namespace {

class ResourcesTest : public Sandbox {};

// Books cut short in the directory are the sweep's; here the process view adds what it shows.
std::vector<Row> resource_rows() {
  const TestBook two = book_named("Novel", {{"AAAA", "first"}, {"BBBB", "second"}}),
                 long_second =
                     book_named("Novel", {{"AAAA", "first"}, {"BBBB", std::string(5000, 'b')}}, 1),
                 empty_type =
                     book_named("Novel", {{"GOOD", "kept"}, {std::string("\0BCD", 4), "x"}});
  // The record says 3 bytes where the directory says 6: the file gets 3 bytes, and the next
  // record's entry follows right after them.
  const TestBook records = book_named("Novel", {{"AAAA", "abc", 6}, {"BBBB", "second"}}, 1);
  std::vector<Row> rows = {
      // The first record whole, then 7 bytes of the second record's entry: the message has no
      // line end, so the prompt follows on its line.
      {"RecordCutInsideItsEntryKeepsTheFilesBeforeIt",
       book_run(make_book(two).substr(0, data_offset_of(two) + layout::kEntrySizeV2 + 12),
                kEntryCut, unpacked("Novel", two, Files{{"AAAA", "first"}}))},
      {"ResourceDataCutShortIsRefusedBeforeItsFileIsCreated",
       book_run(make_book(long_second).substr(0, make_book(long_second).size() - 1), kDataCut,
                unpacked("Novel", long_second, Files{{"AAAA", "first"}}))},
      {"RecordLargerThanEveryDirectoryEntryIsCopiedExactly",
       {},
       Only::anywhere,
       [] {  // made when it runs: 3 MiB
         const TestBook larger = book_named("Novel", {{"LARG", patterned_bytes(3u << 20), 10},
                                                      {"ZERO", "the directory says 0", 0}});
         return book_run(make_book(larger), "", unpacked("Novel", larger));
       }},
      {"OnlyTheRecordEntryNamesAndSizesTheFile",
       book_run(make_book(records), "",
                unpacked("Novel", records, Files{{"AAAA", "abc"}, {"BBBB", "second"}}))},
      {"EmptyTypeNameFailsToBeCreated",
       book_run(make_book(empty_type), "out: No such file or directory\n",
                unpacked("Novel", empty_type, Files{{"GOOD", "kept"}}))},
  };
  for (std::uint16_t version : {1, 2}) {
    const TestBook sample = sample_book(version);
    rows.push_back({"BothVersionsUnpackEveryResourceByteExactlyV" + std::to_string(version),
                    book_run(make_book(sample), "",
                             unpacked(sample.name, sample,
                                      Files{{"TEXT", "the later TEXT wins\n"},
                                            {"DATA.FRK", std::string("fork\x00\xFF bytes", 11)},
                                            {"EMPT", ""},
                                            {"PICT", std::string(600, '\x5A')},
                                            {"TE", "cut type"}}))});
  }
  // Limits: a write past the file size limit is reported, the bytes before it kept in order; sizes
  // declared far beyond the file fail without asking for the memory they would take.
  const std::string big = patterned_bytes(100000);
  const TestBook written = book_named("Novel", {{"SMAL", "small"}, {"BIGG", big}});
  const TestBook declared = book_named("Novel", {{"HUGE", "tiny", 0xFFFFFFFF, 0xFFFFFFF0}});
  RowRun failed_write = book_run(
      make_book(written), "write: File too large\n",
      unpacked("Novel", written, Files{{"SMAL", "small"}, {"BIGG", big.substr(0, 50000)}}));
  failed_write.limits.file_size = 50000;
  RowRun far_beyond = book_run(make_book(declared), kDataCut, unpacked("Novel", declared, Files{}));
  far_beyond.limits.address_space = 64L << 20;
  rows.push_back({"FailedWriteIsReported", failed_write, Only::posix});
  rows.push_back({"DeclaredSizesFarBeyondTheFileFailWithoutAskingForTheMemory", far_beyond});
  add_refusals(
      rows, "Hostile", {},
      {Refusal(std::string("..\0\0", 4), "..\\x00\\x00"),
       Refusal(std::string(".\0\0\0", 4), ".\\x00\\x00\\x00"), Refusal("a/b\x1b", "a/b\\x1B"),
       "/etc", Refusal(std::string("../\0", 4), "../\\x00")});
  return rows;
}
INSTANTIATE_TEST_SUITE_P(ResourcesTest, Rows, testing::ValuesIn(resource_rows()), row_name<Row>);

// A book past 4 GiB unpacks whole on 32-bit builds too: a resource of 4 GiB - 1 bytes, then one
// more, in memory where there is memory. The book is sparse; only the sizes and the last resource
// are read back.
TEST_F(ResourcesTest, BookPast4GiBUnpacksWhole) {
  if (env("IMPX_TEST_BOOK_PAST_4GIB").empty()) {
    GTEST_SKIP() << "run by the 32-bit legs (IMPX_TEST_BOOK_PAST_4GIB)";
  }
  base = memory_folder();  // a sandbox there in place of the one in the temporary directory
  TearDown();
  SetUp();
  const TestBook book =
      book_named("Novel", {{"HUGE", "", 0xFFFFFFFF, 0xFFFFFFFF}, {"LAST", "last"}});
  const std::string bytes = make_book(book);
  const std::size_t hole_at = data_offset_of(book) + layout::kEntrySizeV2;
  put("book.imp", bytes.substr(0, hole_at));
  std::filesystem::resize_file(work + "/book.imp", hole_at + 0xFFFFFFFFull);
  std::ofstream(work + "/book.imp", std::ios::binary | std::ios::app) << bytes.substr(hole_at);
  const Outcome run = impx({"book.imp"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(std::filesystem::file_size(work + "/Novel/HUGE"), 0xFFFFFFFFu);
  EXPECT_EQ(read_file(work + "/Novel/LAST"), "last");
}

// The same books in the system's temporary directory and in memory, on FAT and exFAT, where inode
// numbers are no identity, mounted through their FUSE drivers for another user or open to all (as
// e-reader storage and shared partitions are), and on a folder served by path through bindfs,
// unpacked by root.
class OnFileSystem : public Sandbox, public testing::WithParamInterface<FileSystem> {
 protected:
  void SetUp() override {
    image = GetParam();
    if (const char* why = no_strace()) GTEST_SKIP() << why;
    if (image.kind == "tmpfs") {
      base = memory_folder();
      if (base.empty()) GTEST_SKIP() << "needs a writable /dev/shm (tmpfs)";
    } else if (!image.kind.empty()) {
      if (windows_target()) GTEST_SKIP() << "the images are mounted for the POSIX tool";
      if (const std::string why = mount_image(image); !why.empty()) GTEST_SKIP() << why;
      base = image.point;
    }
    Sandbox::SetUp();
  }
  void TearDown() override {
    Sandbox::TearDown();
    unmount_image(image);
  }
  // On an image sandboxes are left for the image to take away: its FAT driver was seen to hang
  // removing files.
  void discard(const std::string& done) override {
    if (image.point.empty()) remove_tree(done);
  }

  FileSystem image;
};

// While strace holds the run after it wrote its first file, a neighbour plants an entry under a
// later resource's name or in place of that file, or swaps the output directory for a symlink or
// for an earlier output; or it swaps the new output directory so, before the run holds it. Nothing
// outside is touched, and only files this run made are written again (the third record's AAAA
// meets the first's). The output directory is group-writable, so that this run cannot know it
// alone put files there, but for one row: where only the run's user may write to a directory that
// the kernel serves, every file in it is the run's, and on FUSE nothing says so. On a mount served
// by path the neighbour works in the served folder beneath it, where a swapped directory comes to
// stand behind the run's handle. An image leaves out the entries its file system cannot hold.
// (wine takes a symlink for the file it leads to, which is no file this run made.)
TEST_P(OnFileSystem, OnlyFilesThisRunMadeAreWrittenAgain) {
  using Plant = int (*)(const char* outside, const char* planted);
  const Plant plain = [](const char*, const char* at) { return close(creat(at, 0600)); };
  const Plant for_symlink = [](const char* out, const char* at) {
    const fs::path novel = fs::path(at).parent_path();
    fs::rename(novel, novel.string() + "-moved");
    return symlink(fs::path(out).parent_path().c_str(), novel.c_str());
  };
  const Plant for_earlier = [](const char* out, const char* at) {
    const fs::path novel = fs::path(at).parent_path(), earlier = fs::path(out).parent_path();
    if (symlink(novel.c_str(), (earlier.string() + "-seen").c_str()) != 0) return -1;
    fs::rename(novel, novel.string() + "-moved");
    fs::rename(earlier, novel);  // the earlier output is still seen as outside
    return rename((earlier.string() + "-seen").c_str(), earlier.c_str());
  };
  // Where one kind of mount differs, as measured there: cifs finds a directory swapped on the
  // server itself, and a FIFO there is no plain file to it; the NFS client refuses a FIFO as it
  // would a symlink, and finds the directory it made by the name it has seen, which holds; an NFS
  // directory's owner and mode are the server's word, and ntfs3's the mount's options.
  using Measured = std::vector<std::pair<std::string, const char*>>;
  const Measured stale_on_smb = {{"smb", "out: Stale file handle\n"}},
                 fifo = {{"nfs", "out: Too many levels of symbolic links\n"},
                         {"smb", "out: File exists\n"}},
                 held_new = {{"nfs", ""}, {"smb", "mkdir: Stale file handle\n"}},
                 tracked = {{"nfs", "out: File exists\n"}, {"ntfs3", "out: File exists\n"}},
                 reused = {{"nfs", nullptr}, {"ntfs3", nullptr}};  // as below
  // Where only the run's user may write to a directory on a local file system that stores its
  // owner and mode, every file in it is the run's; a tool built without what only Linux tells
  // (the strict POSIX build) knows no file system for one, and no generation number.
  const bool untold = !env("IMPX_UNTOLD_FILE_SYSTEMS").empty();
  const char* const own = untold ? "out: File exists\n" : "";
  const struct {
    const char* what;
    Plant plant;
    // The run's message: "" when it goes on in the directory it made; the served one on FUSE,
    // where a bindfs neighbour works beneath the mount; nullptr where wine has no such entry.
    const char *posix_error, *served_error, *windows_error;
    mode_t run_umask = 002;
    bool once_made = false;  // planted once the output directory is made, not its first file
    const char* by_name_error = nullptr;  // where files are known by name, when that differs
    Measured measured = {};               // by kind, the message where it differs
  } plants[] = {
      {"symlink", symlink, "out: Too many levels of symbolic links\n", "out: File exists\n",
       "out: File exists\n"},
      {"symlink in place of a file this run made",
       [](const char* out, const char* at) {
         const std::string made = fs::path(at).replace_filename("AAAA").string();
         fs::rename(made, made + "-moved");
         return symlink(out, made.c_str());
       },
       "out: Too many levels of symbolic links\n", "out: File exists\n", "out: File exists\n"},
      {"hard link", link, "out: File exists\n", "out: File exists\n", "out: File exists\n"},
      {"directory", [](const char*, const char* at) { return mkdir(at, 0700); },
       "out: Is a directory\n", "out: Is a directory\n", "out: Permission denied\n"},
      {"named pipe", [](const char*, const char* at) { return mkfifo(at, 0600); },
       "out: No such device or address\n", "out: No such device or address\n", nullptr, 002, false,
       nullptr, fifo},
      {"plain file", plain, "out: File exists\n", "out: File exists\n", "out: File exists\n"},
      {"plain file where only the run's user may write", plain, own, "out: File exists\n",
       "out: File exists\n", 022, false, "out: File exists\n", tracked},
      // Known by a reused number alone where no generation number is told, so not run there:
      // through bindfs, on network shares and ntfs3, in the strict POSIX build, and under wine,
      // whose file IDs are the host's inode numbers.
      {"file made again under a name this run wrote",
       [](const char*, const char* at) {
         const std::string made = fs::path(at).replace_filename("AAAA").string();
         return unlink(made.c_str()) == 0 ? close(creat(made.c_str(), 0600)) : -1;
       },
       untold ? nullptr : "out: File exists\n", nullptr, nullptr, 002, false, "", reused},
      {"hard link to a file this run made",
       [](const char*, const char* at) {
         return link(fs::path(at).replace_filename("AAAA").c_str(), at);
       },
       "out: File exists\n", "out: File exists\n", "out: File exists\n"},
      {"directory swapped for a symlink", for_symlink, "", kTaken, "", 002, false, nullptr,
       stale_on_smb},
      {"directory swapped for an earlier output", for_earlier, "", kTaken, "", 002, false, nullptr,
       stale_on_smb},
      {"new directory swapped for a symlink", for_symlink, kTaken, kTaken, nullptr, 002, true,
       nullptr, held_new},
      {"new directory swapped for an earlier output", for_earlier, kTaken, kTaken, nullptr, 002,
       true, nullptr, held_new},
  };
  const TestBook book =
      book_named("Novel", {{"AAAA", "first"}, {"BBBB", "second"}, {"AAAA", "again"}});
  const mode_t umask_before = umask(002);
  for (const auto& [what, plant, posix_error, served_error, windows_error, run_umask, once_made,
                    by_name_error, measured] : plants) {
    const char* error = windows_target()                                    ? windows_error
                        : image.known_by_name() && by_name_error != nullptr ? by_name_error
                        : image.served_by_path()                            ? served_error
                                                                            : posix_error;
    for (const auto& [kind, message] : measured) {
      if (kind == image.kind) error = message;
    }
    umask(run_umask);
    if (error == nullptr) continue;
    // A neighbour on a mount served by path works beneath it, in the served folder.
    const std::string below = image.beneath.empty()
                                  ? sandbox
                                  : image.beneath + sandbox.substr(image.point.size()),
                      outside = below + "/outside/BBBB", planted = below + "/work/Novel/BBBB";
    put("../outside/BBBB", "precious");
    put("book.imp", make_book(book));
    int planted_with = -1;  // the plant's errno, 0 when planted; -1 when the run was never held
    const Outcome run = impx_held(
        {"book.imp"}, once_made ? "mkdir,mkdirat" : "close", once_made ? "" : "Novel/AAAA",
        [&] { planted_with = plant(outside.c_str(), planted.c_str()) == 0 ? 0 : errno; });
    if (planted_with == 0) {
      EXPECT_EQ(run.status, *error == '\0' ? 0 : 255) << what;
      EXPECT_EQ(run.err, *error == '\0' ? "" : error + std::string(kPrompt)) << what;
      if (*error == '\0') {
        EXPECT_EQ(
            tree(work + (fs::exists(work + "/Novel-moved") ? "/Novel-moved" : "/Novel")),
            (Files{{"RSRC.INF", expected_info_file(book)}, {"AAAA", "again"}, {"BBBB", "second"}}));
      }
    } else {  // only an entry the image cannot hold, never one the run made first
      EXPECT_TRUE(!image.kind.empty() && planted_with > 0 && planted_with != EEXIST)
          << what << " not planted: " << std::strerror(planted_with);
      std::cout << "not planted here: " << what << " (" << std::strerror(planted_with) << ")\n";
    }
    EXPECT_EQ(tree(sandbox + "/outside"), (Files{{"BBBB", "precious"}})) << what;
    reset();
  }
  umask(umask_before);

  // On a mount, two records of one type code meet in one file, also when the kernel forgot the
  // file between them (as memory pressure makes it during a large book), and so do codes that
  // FAT and exFAT take for one name; the later bytes win.
  if (image.point.empty()) return;
  const TestBook codes = book_named(
      "Novel", {{"DUPL", "one"}, {"DUPL", "two"}, {"ZETA", "first"}, {"zeta", "second"}});
  put("book.imp", make_book(codes));
  const Outcome run = impx_held({"book.imp"}, "close", "Novel/DUPL",
                                [] { write_file("/proc/sys/vm/drop_caches", "2\n"); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const Files folded{{"ZETA", "second"}}, apart{{"ZETA", "first"}, {"zeta", "second"}};
  EXPECT_EQ(tree(work + "/Novel"),
            (Files{{"RSRC.INF", expected_info_file(codes)}, {"DUPL", "two"}} +
             (image.folds_case() ? folded : apart)));
}

constexpr char kOfAnotherUser[] = "uid=1000,gid=1000,umask=022,allow_other";
INSTANTIATE_TEST_SUITE_P(
    ResourcesTest, OnFileSystem,
    testing::Values(FileSystem{"Here"}, FileSystem{"InMemory", "tmpfs"},
                    FileSystem{"ExfatOfAnotherUser", "exfat-fuse", kOfAnotherUser},
                    FileSystem{"ExfatOpenToAll", "exfat-fuse", "umask=000"},
                    FileSystem{"FatOfAnotherUser", "fusefat", kOfAnotherUser},
                    FileSystem{"FatOpenToAll", "fusefat", "umask=000"},
                    FileSystem{"ServedByPath", "bindfs", "--resolve-symlinks"},
                    FileSystem{"KernelVfat", "vfat"}, FileSystem{"KernelExfat", "exfat"},
                    FileSystem{"Xfs", "xfs"}, FileSystem{"Ntfs3", "ntfs3"},
                    FileSystem{"Smb", "smb"}, FileSystem{"Nfs", "nfs"}),
    row_name<FileSystem>);

// A book whose length cannot be known beforehand (a pipe) unpacks all the same, and one that
// ends early is still refused, its last file holding the bytes that arrived and no other.
TEST_F(ResourcesTest, BookFromAPipeIsReadToItsEnd) {
  if (windows_target()) GTEST_SKIP() << "named pipes are a POSIX matter";
  const TestBook book = sample_book(2);
  const std::string whole = make_book(book);
  const std::string fifo = work + "/book.imp";
  for (const bool cut : {false, true}) {
    const std::string bytes = cut ? whole.substr(0, whole.size() - 5) : whole;
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = fork();  // ended by its reader, or once the run is over without one
    if (writer == 0) _exit(write(open(fifo.c_str(), O_WRONLY), bytes.data(), bytes.size()) < 0);
    const Outcome run = impx({"book.imp"});
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    remove_tree(fifo);
    EXPECT_EQ(run.status, cut ? 255 : 0);
    EXPECT_EQ(run.err, cut ? kDataCut + std::string(kPrompt) : "");
    if (cut) {
      EXPECT_EQ(tree(work)[book.name + "/TEXT"], "the later TEXT ");  // all that arrived
    } else {
      EXPECT_EQ(tree(work), unpacked(book.name, book));
    }
    remove_tree(work + "/" + book.name);
  }
}

}  // namespace
