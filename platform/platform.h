// What differs between POSIX systems and the Windows console: the directory separator, the names
// a file system entry may take, and the calls that hold directories and create files in them.
// Everything else in the program is written once, for both. Each call's details are beside its
// code in posix.cpp and windows.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/file_system.h"
#endif

// Paths from the command line in the system's own form: bytes on POSIX, UTF-16 on Windows (whose
// narrow argument list would pass through the ANSI code page). IMPX_MAIN names the entry point.
#ifdef _WIN32
using PathChar = wchar_t;
#define IMPX_MAIN wmain
#else
using PathChar = char;
#define IMPX_MAIN main
#endif
using Path = std::basic_string<PathChar>;

// A path split at its last directory separator ('/' on POSIX, '\' on Windows): the folder, ""
// when there is none, with a root's separator kept ("/", "C:\", "\\?\C:\", "\\server\share\"),
// and the last component.
template <typename String>
struct SplitPath {
  String folder;
  String file;
};
SplitPath<std::string> split_posix_path(const std::string& path);
SplitPath<std::wstring> split_windows_path(const std::wstring& path);

// A directory held open, so that every later step reaches it by its handle, never by its name
// again: the folder that holds a book, or a book's output directory. It closes itself. Each
// platform keeps in it what it needs to tell the files this run made there from any other.
#ifdef _WIN32
struct Directory {
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  void* handle = nullptr;
  std::vector<std::uint64_t> created_ids;  // the file IDs of the files this run made in it
};
#else
struct Directory {
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

  int descriptor = -1;
  FileSystemRules rules;  // those of its file system, read once, when the book's folder was held
  // Its device and inode number when it was held, where the file system serves it by path: there
  // another directory can come to stand behind the descriptor, so it is checked against these
  // before anything is made in it.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  // Whether anyone but this run's user could put entries in it: where no one could, on a local
  // file system, every file in it is the run's own.
  bool others_may_write = true;
  // What tells a file this run made there from any other: its inode and generation numbers, or
  // on a file system that knows files by name, in their place its name with letter case folded.
  struct FileId {
    std::uint64_t inode = 0, generation = 0;
    bool operator==(const FileId& other) const {
      return inode == other.inode && generation == other.generation;
    }
  };
  std::vector<FileId> created_ids;
};
#endif

// Whether `path` is empty, which names no file (not the folder it would be taken in); errno is
// then ENOENT.
bool names_no_file(const Path& path);

// Opens a book for binary reading inside the folder of its path, held in `folder`; nullptr, with
// errno set, when it cannot be opened.
std::FILE* open_book(const Path& path, Directory& folder);

// Ignores the signals that would end the run in place of a failing write's error.
void ignore_write_signals();

// What standard input is: a terminal that hands over a typed line whole (canonical mode; on
// Windows a console in line-input mode), one that hands over each key as it is typed (raw or
// non-canonical mode), or no terminal.
enum class Input { lines, keys, stream };
Input standard_input();
// Reads up to `size` bytes of standard input, unbuffered: how many arrived, 0 at its end or on an
// error. A terminal in line mode gives at most one line.
std::size_t read_input(char* bytes, std::size_t size);

// A command-line text as the console shows it.
std::string console_text(const Path& text);

// A name from the book in the system's own form, in `name`, and whether it names one entry inside
// a directory (not ".", "..", a separator, or on Windows a device, drive or stream).
bool entry_name(const char* bytes, Path& name);
bool is_plain_posix_name(const char* name);
bool is_plain_windows_name(const std::wstring& name);

// What making an output directory came to: `failed` with errno set.
enum class Making { made, exists, taken, failed };
// Creates the directory `name` inside `folder` and holds it in `output`; `taken` when `folder` is
// no longer the folder it was held as, or something other than the new, empty directory was found
// under the name by the time it was held.
Making make_output_directory(const Directory& folder, const Path& name, Directory& output);
// Whether `directory` is still the directory it was held as: when not, errno is 0 where another
// stands behind its handle, and the system's error where that cannot be read.
bool still_in_place(const Directory& directory);

// The length of the file behind `stream`, when it is a regular file.
bool regular_file_length(std::FILE* stream, std::uint64_t& length);

// Output files inside `directory`; an existing name is written again only when it is a file this
// run made there. Each returns false (or -1), with errno set, on failure.
int create_output(Directory& directory, const Path& name);
bool write_output(int file, const unsigned char* data, std::size_t size);
bool close_output(int file);

// Copies up to `size` bytes of the book from `offset` to the end of `output` inside the kernel
// where that pays, setting `copied`; false, with errno set, when the stream cannot follow it.
bool copy_in_kernel(std::FILE* book, std::uint64_t offset, int output, std::uint64_t size,
                    std::uint64_t& copied);
