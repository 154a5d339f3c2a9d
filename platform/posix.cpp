// POSIX systems: directories held by descriptors, output files created exclusively, and on Linux
// the kernel's copy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#ifdef __linux__
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
#endif

#include "platform/platform.h"

// Books and resources may lie past 4 GiB, also on 32-bit systems (the build asks for 64-bit file
// offsets there).
static_assert(sizeof(off_t) == 8, "64-bit file offsets");

bool is_plain_name(const char* name) {
  return is_plain_posix_name(name);
}

namespace {

// Directories are held by descriptors that need no read permission where the system allows it.
#if defined(O_PATH)
constexpr int kHoldDirectory = O_PATH | O_DIRECTORY | O_CLOEXEC;
#elif defined(O_SEARCH)
constexpr int kHoldDirectory = O_SEARCH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kHoldDirectory = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Closes `descriptor` and gives back `result`, keeping errno as it was.
template <typename T>
T closing(int descriptor, T result) {
  const int error = errno;
  if (descriptor >= 0) close(descriptor);
  errno = error;
  return result;
}

}  // namespace

std::FILE* open_book(const Path& path) {
  if (path.empty()) {
    errno = ENOENT;  // the empty path names no file
    return nullptr;
  }
  const std::string folder = posix_directory_part(path);
  const std::size_t slash = path.rfind('/');
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  const int held = open(folder.empty() ? "." : folder.c_str(), kHoldDirectory);
  if (held < 0) return nullptr;
  // A path ending in '/' names the folder itself, which opens and then cannot be read.
  const int book = openat(held, file.empty() ? "." : file.c_str(), O_RDONLY | O_CLOEXEC);
  std::FILE* stream = book >= 0 ? fdopen(book, "rb") : nullptr;
  if (stream == nullptr) return closing(held, closing(book, stream));
  if (fchdir(held) != 0) {
    // The folder could not be entered: the output goes to the working directory.
  }
  return closing(held, stream);
}

void ignore_write_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::string console_text(const Path& text) {
  return text;
}

bool hold_working_directory(HeldDirectory& held) {
  held.descriptor = open(".", kHoldDirectory);
  return held.descriptor >= 0;
}

bool return_to(const HeldDirectory& held) {
  return fchdir(held.descriptor) == 0;
}

bool enter_new_directory(const char* name) {
  const int held = open(name, kHoldDirectory | O_NOFOLLOW);
  if (held < 0) return false;
  return closing(held, fchdir(held) == 0);
}
bool make_directory(const char* name) {
  return mkdir(name, 0777) == 0;
}

bool regular_file_length(std::FILE* stream, std::uint64_t& length) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  length = static_cast<std::uint64_t>(status.st_size);
  return true;
}

int create_output(const char* name) {
  const int file = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file >= 0 || errno != EEXIST) return file;
  // Opened without waiting, so that a FIFO in its place cannot hold the run.
  const int existing = open(name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (existing < 0) return -1;
  struct stat status;
  if (fstat(existing, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
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

// The kernel declines these copies; read and write do them instead.
bool refused(int error) {
  return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
         error == ESPIPE;
}

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
      if (done < 0 && refused(errno)) {
        use_copy_file_range = false;
        continue;
      }
    } else {
      off_t position = static_cast<off_t>(offset + copied);
      done = sendfile(output, from, &position, chunk);
      if (done < 0 && refused(errno)) break;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return false;
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
