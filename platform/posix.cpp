// POSIX systems: directories held by descriptors and every entry made relative to them, output
// files created exclusively. What only Linux tells (a file system's kind) is asked of
// file_system.h.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "platform/file_system.h"
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

// `name` as a file system that folds ASCII letter case takes it.
std::string folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
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

// Records what `directory` holds now, as still_in_place will find it again, where the file system
// serves it by path.
bool remember_identity(Directory& directory) {
  return !directory.rules.served_by_path ||
         identity_now(directory.descriptor, directory.device, directory.inode);
}

// What a held folder that is no longer in place means: another stands behind its handle (errno
// 0), or its identity could not be read.
Making not_in_place() {
  return errno == 0 ? Making::taken : Making::failed;
}

// What tells the file `file`, made or found under `name` in `directory`, from any other there,
// with its `status` where the caller has read it; false, with errno set, when it cannot be read.
// Where no one but the run's user may write to the directory, every file in it is the run's own,
// and all share one identity. Elsewhere a file is known by its inode number and, where the file
// system reports one, its generation number, which a file made later under a reused inode number
// does not share; or, on a file system whose inode numbers are no identity (FAT, exFAT), by its
// name, letter case folded: there no link exists and no file from elsewhere can appear.
bool identify(const Directory& directory, int file, const Path& name, const struct stat* status,
              Directory::FileId& id) {
  id = Directory::FileId{};
  if (!directory.others_may_write) return true;
  if (directory.rules.known_by_name) {
    // The run names files by type codes, "RSRC.INF" and "DATA.FRK": eight bytes at most, which
    // fill the place of the inode number.
    const std::string key = folded(name);
    if (key.size() > sizeof id.inode) {
      errno = ENAMETOOLONG;
      return false;
    }
    std::memcpy(&id.inode, key.data(), key.size());
    return true;
  }
  struct stat own;
  if (status == nullptr && fstat(file, &own) != 0) return false;
  id.inode = static_cast<std::uint64_t>((status != nullptr ? status : &own)->st_ino);
  id.generation = directory.rules.generations ? generation_of(file) : 0;
  return true;
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
  folder.rules = file_system_rules(folder.descriptor);
  if (!remember_identity(folder)) return nullptr;
  // A path ending in '/' names the folder itself, which opens and then cannot be read.
  const int book =
      openat(folder.descriptor, file.empty() ? "." : file.c_str(), O_RDONLY | O_CLOEXEC);
  std::FILE* stream = book >= 0 ? fdopen(book, "rb") : nullptr;
  return stream != nullptr ? stream : closing(book, stream);
}

Input standard_input() {
  termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return Input::stream;
  return (mode.c_lflag & ICANON) != 0 ? Input::lines : Input::keys;
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

bool still_in_place(const Directory& directory) {
  if (!directory.rules.served_by_path) return true;
  std::uint64_t device = 0, inode = 0;
  if (!identity_now(directory.descriptor, device, inode)) return false;
  errno = 0;
  return device == directory.device && inode == directory.inode;
}

// The directory is made with the default permissions, then opened without following a symlink:
// between the two a neighbour may have put something else under the name, and only a directory
// that holds nothing can be the one just made (or one as good), whoever owns it. The folder is
// checked before and after: a folder swapped in between leaves at most that empty directory in
// the other folder.
Making make_output_directory(const Directory& folder, const Path& name, Directory& output) {
  if (!still_in_place(folder)) return not_in_place();
  if (mkdirat(folder.descriptor, name.c_str(), 0777) != 0) {
    return errno == EEXIST ? Making::exists : Making::failed;
  }
  output.descriptor =
      openat(folder.descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // Where the folder is served by path, it may have been swapped meanwhile, and the directory
  // made in another one.
  const int error = errno;
  if (!still_in_place(folder)) return not_in_place();
  errno = error;
  if (output.descriptor < 0) {
    return errno == ELOOP || errno == ENOTDIR ? Making::taken : Making::failed;
  }
  struct stat status;
  bool empty = false;
  // Made inside the folder, the directory is on the folder's file system, whose rules were read
  // once, when the folder was held (a directory served by path in its place is found above).
  output.rules = folder.rules;
  if (fstat(output.descriptor, &status) != 0 || !list_as_empty(output.descriptor, empty) ||
      !remember_identity(output)) {
    return Making::failed;
  }
  if (!empty) return Making::taken;
  output.others_may_write = !folder.rules.local || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
                            status.st_uid != geteuid();
  return Making::made;
}

bool regular_file_length(std::FILE* stream, std::uint64_t& length) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  length = static_cast<std::uint64_t>(status.st_size);
  return true;
}

// Output files are created exclusively, never through a symlink, and the identity of each is
// kept (once, where all share one). A name that exists already is emptied and written again only
// when it is a regular file with one link, by its open file and by its name read past any cache
// (some clients, cifs among them, count links only by the name), whose identity is one this run
// made there: two records of one type code, or codes the file system folds together, meet in one
// file. Anything else is refused: EEXIST, or the system's error for what stands there.
int create_output(Directory& directory, const Path& name) {
  const int at = directory.descriptor;
  auto& ids = directory.created_ids;
  Directory::FileId id;
  const int file =
      openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (file >= 0) {
    if (!identify(directory, file, name, nullptr, id)) return closing(file, -1);
    if (ids.empty() || !(ids.back() == id)) ids.push_back(id);
    return file;
  }
  if (errno != EEXIST) return -1;
  // Opened without waiting, so that a FIFO in its place cannot hold the run.
  const int existing =
      openat(at, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (existing < 0) return -1;
  struct stat status;
  std::uint64_t named_inode = 0, named_links = 0;
  if (fstat(existing, &status) != 0 || !entry_now(at, name.c_str(), named_inode, named_links) ||
      !identify(directory, existing, name, &status, id)) {
    return closing(existing, -1);
  }
  const bool made_here = S_ISREG(status.st_mode) && status.st_nlink == 1 && named_links == 1 &&
                         named_inode == static_cast<std::uint64_t>(status.st_ino) &&
                         std::find(ids.begin(), ids.end(), id) != ids.end();
  if (!made_here) {
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
