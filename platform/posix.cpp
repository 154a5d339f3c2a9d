// POSIX systems: directories held by descriptors and every entry made relative to them, output
// files created exclusively, and on Linux the kernel's copy.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
#endif

#include "platform/platform.h"

// Books and resources may lie past 4 GiB, also on 32-bit systems (the build asks for 64-bit file
// offsets there).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");

bool entry_name(const char* bytes, Path& name) {
  if (!is_plain_posix_name(bytes)) return false;
  name.assign(bytes);
  return true;
}

namespace {

// The book's folder is held by a descriptor that needs no read permission where the system allows
// it; it serves only to open and make entries inside it.
#if defined(O_PATH)
constexpr int kHoldFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int kHoldFolder = O_SEARCH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kHoldFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Closes `descriptor` and gives back `result`, keeping errno as it was.
template <typename T>
T closing(int descriptor, T result) {
  const int error = errno;
  if (descriptor >= 0) close(descriptor);
  errno = error;
  return result;
}

// Whether the inode numbers of the file system behind `directory` name its files for as long as
// they exist. FAT and exFAT give a file looked up under another spelling, or read back after the
// kernel dropped it from its cache, a new number, and so may FUSE, whose drivers serve both.
bool ids_identify(int directory) {
#ifdef __linux__
  struct statfs file_system;
  if (fstatfs(directory, &file_system) != 0) return true;
  switch (static_cast<unsigned long>(file_system.f_type)) {
    case 0x4d44:      // MSDOS_SUPER_MAGIC: vfat, msdos
    case 0x2011BAB0:  // EXFAT_SUPER_MAGIC
    case 0x65735546:  // FUSE_SUPER_MAGIC: fuse and fuseblk
      return false;
    default:
      return true;
  }
#else
  (void)directory;
  return true;
#endif
}

// Whether `a` and `b` are one name to a file system that folds ASCII letter case.
bool same_folded(const std::string& a, const std::string& b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// Sets `empty` to whether the directory behind `descriptor` holds nothing but "." and "..";
// false, with errno set, when it cannot be listed.
bool list_as_empty(int descriptor, bool& empty) {
  const int listed = dup(descriptor);
  DIR* stream = listed >= 0 ? fdopendir(listed) : nullptr;
  if (stream == nullptr) return closing(listed, false);
  empty = true;
  errno = 0;
  while (const dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  const int error = errno;
  closedir(stream);
  errno = error;
  return error == 0;
}

}  // namespace

Directory::~Directory() {
  if (descriptor >= 0) close(descriptor);
}

// The book is opened relative to its folder, held meanwhile, so the folder it is read from is the
// folder its output goes to, whatever is renamed.
std::FILE* open_book(const Path& path, Directory& folder) {
  const auto [directory, file] = split_posix_path(path);
  folder.descriptor = open(directory.empty() ? "." : directory.c_str(), kHoldFolder);
  if (folder.descriptor < 0) return nullptr;
  // A path ending in '/' names the folder itself, which opens and then cannot be read.
  const int book =
      openat(folder.descriptor, file.empty() ? "." : file.c_str(), O_RDONLY | O_CLOEXEC);
  std::FILE* stream = book >= 0 ? fdopen(book, "rb") : nullptr;
  return stream != nullptr ? stream : closing(book, stream);
}

bool input_is_terminal() {
  return isatty(STDIN_FILENO) == 1;
}

std::size_t read_input(char* bytes, std::size_t size) {
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, bytes, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

void ignore_write_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::string console_text(const Path& text) {
  return text;
}

// The directory is made with the default permissions, then opened without following a symlink:
// between the two a neighbour may have put something else under the name, and only a directory
// that holds nothing can be the one just made (or one as good), whoever owns it.
Making make_output_directory(const Directory& folder, const Path& name, Directory& made) {
  if (mkdirat(folder.descriptor, name.c_str(), 0777) != 0) {
    return errno == EEXIST ? Making::exists : Making::failed;
  }
  made.descriptor =
      openat(folder.descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (made.descriptor < 0) {
    return errno == ELOOP || errno == ENOTDIR ? Making::taken : Making::failed;
  }
  struct stat status;
  bool empty = false;
  if (fstat(made.descriptor, &status) != 0 || !list_as_empty(made.descriptor, empty)) {
    return Making::failed;
  }
  if (!empty) return Making::taken;
  // Only this run's user can put entries in its own directory that no group or other may write.
  made.others_may_write = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 || status.st_uid != geteuid();
  made.ids_identify = ids_identify(made.descriptor);
  return Making::made;
}

bool regular_file_length(std::FILE* stream, std::uint64_t& length) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  length = static_cast<std::uint64_t>(status.st_size);
  return true;
}

// Output files are created exclusively, never through a symlink. A name that exists already is
// emptied and written again only when it is a regular file with one link that this run made there
// (where no one else may write to the directory, every file in it is this run's): two records of
// one type code, or codes the file system folds together, meet in one file. It is known by its
// inode number, or where those are no identity by its name, letter case folded: a file system
// without links (FAT, exFAT) cannot lead outside the directory through a file, and on any other
// the checks of symlinks, links and the file's type still hold. Anything else is refused: EEXIST,
// or the system's error for what stands there.
int create_output(Directory& directory, const Path& name) {
  const int at = directory.descriptor;
  const int file =
      openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  struct stat status;
  if (file >= 0) {
    if (!directory.others_may_write) return file;
    if (!directory.ids_identify) {
      directory.made_names.push_back(name);
      return file;
    }
    if (fstat(file, &status) != 0) return closing(file, -1);
    directory.made.push_back(static_cast<std::uint64_t>(status.st_ino));
    return file;
  }
  if (errno != EEXIST) return -1;
  // Opened without waiting, so that a FIFO in its place cannot hold the run.
  const int existing =
      openat(at, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (existing < 0) return -1;
  if (fstat(existing, &status) != 0) return closing(existing, -1);
  const auto& made = directory.made;
  const auto& names = directory.made_names;
  const bool made_here = !directory.others_may_write ||
                         std::find(made.begin(), made.end(),
                                   static_cast<std::uint64_t>(status.st_ino)) != made.end() ||
                         std::any_of(names.begin(), names.end(), [&](const Path& made_name) {
                           return same_folded(made_name, name);
                         });
  if (!S_ISREG(status.st_mode) || status.st_nlink != 1 || !made_here) {
    close(existing);
    errno = EEXIST;
    return -1;
  }
  if (fcntl(existing, F_SETFL, 0) != 0 || ftruncate(existing, 0) != 0) {
    return closing(existing, -1);
  }
  return existing;
}

bool write_output(int file, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(file, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool close_output(int file) {
  return close(file) == 0;
}

#ifdef __linux__

namespace {

// Measured for resources of 1 MiB and more: into tmpfs the kernel's copy takes 0.85-0.92 of the
// time of read and write; into ext4 it takes 1.05-1.10 of it where the data starts on a page
// boundary and up to 1.4 where it does not, as a resource's data in a book mostly does.
bool kernel_copy_pays(int output) {
  struct statfs file_system;
  return fstatfs(output, &file_system) == 0 && file_system.f_type == TMPFS_MAGIC;
}

}  // namespace

bool copy_in_kernel(std::FILE* book, std::uint64_t offset, int output, std::uint64_t size,
                    std::uint64_t& copied) {
  copied = 0;
  if (!kernel_copy_pays(output)) return true;
  const int from = fileno(book);
  bool use_copy_file_range = true;
  while (copied < size) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - copied, 1u << 30));
    ssize_t done;
    if (use_copy_file_range) {
      loff_t position = static_cast<loff_t>(offset + copied);
      done = copy_file_range(from, &position, output, nullptr, chunk, 0);
      if (done < 0 && errno != EINTR) {
        use_copy_file_range = false;  // refused here: sendfile may do it
        continue;
      }
    } else {
      off_t position = static_cast<off_t>(offset + copied);
      done = sendfile(output, from, &position, chunk);
      // Refused or failed: read and write copy the rest, and report what fails on which side.
      if (done < 0 && errno != EINTR) break;
    }
    if (done < 0) continue;
    if (done == 0) break;  // the book ends early
    copied += static_cast<std::uint64_t>(done);
  }
  // The stream's buffer may hold bytes from before the copy; reading goes on after it.
  return copied == 0 || fseeko(book, static_cast<off_t>(offset + copied), SEEK_SET) == 0;
}

#else

// Elsewhere read and write do every copy.
bool copy_in_kernel(std::FILE*, std::uint64_t, int, std::uint64_t, std::uint64_t& copied) {
  copied = 0;
  return true;
}

#endif
