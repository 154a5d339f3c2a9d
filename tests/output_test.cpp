// Output files on POSIX: what a neighbour plants under a name in a directory that others may write
// is refused, and only a file this run made there is opened again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/book_writer.h"

namespace {

TEST(CreateOutput, OnlyAFileThisRunMadeIsOpenedAgain) {
  std::string root = (std::filesystem::temp_directory_path() / "impx-output-XXXXXX").string();
  ASSERT_NE(mkdtemp(root.data()), nullptr);
  const std::string outside = root + "/outside", at = root + "/out/";
  write_file(outside, "precious");
  Directory folder, out;
  folder.descriptor = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  const mode_t umask_before = umask(002);
  ASSERT_TRUE(make_output_directory(folder, "out", out));
  umask(umask_before);
  EXPECT_TRUE(out.others_may_write);
  const int mine = create_output(out, "MINE");
  ASSERT_GE(mine, 0);
  ASSERT_TRUE(write_output(mine, reinterpret_cast<const unsigned char*>("old"), 3));
  ASSERT_TRUE(close_output(mine));

  const struct {
    const char* name;
    int (*plant)(const char* outside, const char* at);
    int error;  // 0 when the name is opened, emptied, again
  } plants[] = {
      {"LINK", symlink, ELOOP},
      {"HARD", link, EEXIST},
      {"DIRS", [](const char*, const char* path) { return mkdir(path, 0700); }, EISDIR},
      {"FIFO", [](const char*, const char* path) { return mkfifo(path, 0600); }, ENXIO},
      {"FILE", [](const char*, const char* path) { return close(creat(path, 0600)); }, EEXIST},
      {"MINE", [](const char*, const char*) { return 0; }, 0},
  };
  for (const auto& [name, plant, error] : plants) {
    ASSERT_EQ(plant(outside.c_str(), (at + name).c_str()), 0) << name;
    const int file = create_output(out, name);
    EXPECT_EQ(file >= 0 ? 0 : errno, error) << name;
    if (file >= 0) close_output(file);
  }
  EXPECT_EQ(read_file(at + "MINE"), "");
  EXPECT_EQ(read_file(outside), "precious");
  std::filesystem::remove_all(root);
}

}  // namespace
