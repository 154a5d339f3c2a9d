// What the POSIX code asks of the system beyond POSIX: what kind of file system a directory is on,
// its identity read past any cache, and a copy inside the kernel. Linux answers by what it reports
// about itself (linux.cpp); elsewhere, where the kind cannot be told, the safe rule holds.
#pragma once

#include <cstdint>

// The rules that the file system behind a directory descriptor allows.
struct FileSystemRules {
  // Its inode numbers are no identity (FAT, exFAT): a file is known by its name, letter case
  // folded, and no link or file from elsewhere can appear there.
  bool known_by_name = false;
  // It may serve directories by path (FUSE, SMB, any kind not known to hold them), so that
  // another directory can come to stand behind a descriptor.
  bool served_by_path = true;
  // It is a local disk or memory that stores each directory's owner and mode, which then say who
  // may put entries in it (not FAT, exFAT or ntfs3, whose modes come from the mount's options, nor
  // a network share, whose server others write to).
  bool local = false;
  // It reports generation numbers (ext4, xfs, btrfs), which are then asked for: elsewhere the
  // request would cost a call, on FUSE a round trip to the server, for nothing.
  bool generations = false;
};
FileSystemRules file_system_rules(int directory);

// The generation number of the regular file behind `file`, which tells it from a file made later
// under its inode number, where the file system reports one (ext4, xfs, btrfs); 0 elsewhere.
std::uint64_t generation_of(int file);

// The inode number and link count of the entry `name` in `directory`, not following a symlink,
// asked of the file system itself, past any attribute cache; false, with errno set, when they
// cannot be read.
bool entry_now(int directory, const char* name, std::uint64_t& inode, std::uint64_t& links);

// The device and inode number of what `descriptor` holds, asked of the file system itself, past
// any attribute cache; false, with errno set, when they cannot be read.
bool identity_now(int descriptor, std::uint64_t& device, std::uint64_t& inode);
