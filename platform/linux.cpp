// What Linux tells about a file system and does beyond POSIX: the kind of a mount, from its
// statfs magic and, for FUSE, from its line in /proc/self/mountinfo; attributes read past FUSE's
// cache; and the kernel's copy between files.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_system.h"
#include "platform/platform.h"

namespace {

// A field of /proc/self/mountinfo, whose blanks, tabs, line ends and backslashes are written as
// octal escapes.
std::string unescaped(const char* field, std::size_t length) {
  const auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (field[i] == '\\' && i + 3 < length && octal(field[i + 1]) && octal(field[i + 2]) &&
        octal(field[i + 3])) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// The type ("fuse.fusefat", "fuseblk", ...) and source of the mount that holds `descriptor`, from
// its line in /proc/self/mountinfo: "ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [TAGS...] - TYPE
// SOURCE OPTIONS".
bool mount_of(int descriptor, std::string& type, std::string& source) {
  // The mount's ID, from the descriptor's fdinfo (statx's is not passed on by every emulator).
  unsigned long long id = 0;
  bool known = false;
  std::FILE* info = std::fopen(("/proc/self/fdinfo/" + std::to_string(descriptor)).c_str(), "re");
  if (info == nullptr) return false;
  char* line = nullptr;
  std::size_t capacity = 0;
  while (!known && getline(&line, &capacity, info) > 0) {
    char* end = nullptr;
    if (std::strncmp(line, "mnt_id:", 7) == 0) id = std::strtoull(line + 7, &end, 10);
    known = end != nullptr && end != line + 7;
  }
  std::fclose(info);
  std::FILE* table = known ? std::fopen("/proc/self/mountinfo", "re") : nullptr;
  bool found = false;
  while (table != nullptr && !found && getline(&line, &capacity, table) > 0) {
    char* rest = nullptr;
    if (std::strtoull(line, &rest, 10) != id || *rest != ' ') continue;
    const char* tail = std::strstr(rest, " - ");
    if (tail == nullptr) break;
    tail += 3;
    const std::size_t type_length = std::strcspn(tail, " \n");
    const char* from = tail + type_length + (tail[type_length] == ' ' ? 1 : 0);
    type = unescaped(tail, type_length);
    source = unescaped(from, std::strcspn(from, " \n"));
    found = true;
  }
  std::free(line);
  if (table != nullptr) std::fclose(table);
  return found;
}

// Whether the block device `source` holds FAT or exFAT, as its boot sector says.
bool holds_fat(const std::string& source) {
  const int device = open(source.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (device < 0) return false;
  struct stat status;
  unsigned char sector[512];
  const bool read = fstat(device, &status) == 0 && S_ISBLK(status.st_mode) &&
                    pread(device, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector);
  close(device);
  const auto says = [&](std::size_t offset, const char* text) {
    return std::memcmp(sector + offset, text, std::strlen(text)) == 0;
  };
  return read && (says(3, "EXFAT   ") || says(54, "FAT12   ") || says(54, "FAT16   ") ||
                  says(82, "FAT32   "));
}

// Whether the FUSE mount behind `directory` is a driver of FAT or exFAT storage: fusefat names
// itself as the mount's subtype; exfat-fuse mounts a block device whose boot sector says exFAT.
bool fuse_serves_fat(int directory) {
  std::string type, source;
  if (!mount_of(directory, type, source)) return false;
  return type == "fuse.fusefat" || (type == "fuseblk" && holds_fat(source));
}

// ntfs3's statfs magic ("ntfs"), which <linux/magic.h> does not name.
constexpr unsigned long kNtfs3Magic = 0x7366746e;

}  // namespace

// Only the kinds known to keep a descriptor on the directory it was opened on, whoever acts in
// it, are taken as holding: the kernel's local disk and memory file systems, and NFS, whose
// descriptors hold file handles. Every other kind (FUSE, SMB, 9p, any magic not named here, or
// one that cannot be read) is taken as served by path. Of those that hold, only the ones that
// store each directory's owner and mode are local in the sense of file_system.h: FAT's, exFAT's
// and ntfs3's come from the mount's options, and NFS's from the server.
FileSystemRules file_system_rules(int directory) {
  struct statfs file_system;
  if (fstatfs(directory, &file_system) != 0) return {};
  switch (static_cast<unsigned long>(file_system.f_type)) {
    case MSDOS_SUPER_MAGIC:  // vfat, msdos
    case EXFAT_SUPER_MAGIC:
      return {true, false, false};
    case EXT4_SUPER_MAGIC:  // ext2, ext3, ext4
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
      return {false, false, true, true};
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
      return {false, false, true};
    case kNtfs3Magic:
    case NFS_SUPER_MAGIC:
      return {false, false, false};
    case FUSE_SUPER_MAGIC:  // fuse and fuseblk
      return {fuse_serves_fat(directory), true, false};
    default:
      return {};
  }
}

std::uint64_t generation_of(int file) {
  int generation = 0;  // the kernel writes an int, whatever the request's size says
  if (ioctl(file, FS_IOC_GETVERSION, &generation) != 0) return 0;
  return static_cast<std::uint32_t>(generation);
}

bool entry_now(int directory, const char* name, std::uint64_t& inode, std::uint64_t& links) {
  struct statx status;
  if (statx(directory, name, AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC, STATX_INO | STATX_NLINK,
            &status) != 0) {
    return false;
  }
  inode = status.stx_ino;
  links = status.stx_nlink;
  return true;
}

bool identity_now(int descriptor, std::uint64_t& device, std::uint64_t& inode) {
  struct statx status;
  if (statx(descriptor, "", AT_EMPTY_PATH | AT_STATX_FORCE_SYNC, STATX_INO, &status) != 0) {
    return false;
  }
  device = makedev(status.stx_dev_major, status.stx_dev_minor);
  inode = status.stx_ino;
  return true;
}

namespace {

// The kernel's copy pays into tmpfs alone: into ext4 it is slower than read and write, most where
// the data does not start on a page boundary, as a resource's data in a book mostly does
// (docs/benchmark.md has the figures).
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
