// What differs between POSIX systems and the Windows console: the directory separator, the names
// a file system entry may take, and the calls that hold directories and create files in them.
// Everything else in the program is written once, for both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Paths from the command line, in the system's own form: bytes on POSIX; UTF-16 on Windows, where
// the narrow argument list would pass through the ANSI code page and lose or change characters
// (a name outside it could even be matched to a look-alike file). IMPX_MAIN names the entry point
// that receives them: main, or wmain.
#ifdef _WIN32
using PathChar = wchar_t;
#define IMPX_MAIN wmain
#else
using PathChar = char;
#define IMPX_MAIN main
#endif
using Path = std::basic_string<PathChar>;

// The text before the path's last directory separator ('/' on POSIX, '\' on Windows), or "" when
// the path has none. A path in a root ("/a.imp", "\a.imp", "C:\a.imp") keeps the root's
// separator, so that the book's output is placed in that root.
std::string posix_directory_part(const std::string& path);
std::wstring windows_directory_part(const std::wstring& path);

// A directory held open, so that every later step reaches it by its handle, never by its name
// again: the folder that holds a book, or a book's output directory. Closed by its owner.
struct Directory {
  Directory() = default;
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;
  ~Directory();

#ifdef _WIN32
  void* handle = nullptr;
#else
  int descriptor = -1;
#endif
  // Whether anyone but this run could have put entries in it, and then the identities (file IDs,
  // inode numbers) of the files this run created in it. Only those are ever written again.
  bool others_may_write = true;
  std::vector<std::uint64_t> made;
};

// Opens a book file from the command line for binary reading and holds the folder that holds it
// (its directory part, or the working directory when it has none) in `folder`: the book is opened
// inside that folder, so the folder the book is read from is the folder its output goes to,
// whatever is renamed meanwhile. Returns nullptr, with errno set, when the book cannot be opened.
std::FILE* open_book(const Path& path, Directory& folder);

// Sets signals that would end the run in place of an error (a write past the file size limit, a
// message to a pipe nobody reads) to be ignored, so that the failing call reports the error.
void ignore_write_signals();

// Reads one byte of standard input, unbuffered, so that the rest stays for whoever reads next;
// false at its end or on an error.
bool read_input_byte(char& byte);

// A command-line text as the console shows it: unchanged on POSIX; on Windows converted to the
// console's code page, with a stand-in for each character it lacks.
std::string console_text(const Path& text);

// A name from the book (the output directory, a resource file) in the system's own form, in
// `name`, and whether it names one entry inside a directory: not ".", not "..", no separator, and
// on Windows nothing that the system would send to a device, another drive or directory, or an
// alternate data stream. The empty name is the caller's to judge.
//
// On POSIX the name is its bytes, unchanged. On Windows the bytes mean what they mean in the ANSI
// code page, so they are judged as the characters of that code page (a double-byte character
// whose second byte is 0x5C is no separator), bytes that are no characters there are refused, and
// the name is given in UTF-16 without the trailing dots and blanks that Windows drops.
bool entry_name(const char* bytes, Path& name);
bool is_plain_posix_name(const char* name);
bool is_plain_windows_name(const std::wstring& name);

// Creates the directory `name` inside `folder`, with the default permissions, and holds it in
// `made`: on Windows in one call; on POSIX it is opened right after it is made, without following
// a symlink, and accepted only when it holds nothing, whoever owns it. Returns false with errno
// set on failure: EEXIST when an entry of that name exists already, ENOTEMPTY when something else
// (a symlink, another directory) stood under the name by the time it was opened.
bool make_output_directory(const Directory& folder, const Path& name, Directory& made);

// The length of the file behind `stream`, when it is a regular file.
bool regular_file_length(std::FILE* stream, std::uint64_t& length);

// Output files inside `directory`, created for binary writing with the default permissions. A
// name that exists already is emptied and written again only when it is a file this run made
// there (by its identity; where no one else may write to the directory, every file in it is this
// run's), reached by no symlink or reparse point, with one link (two records of one type code, or
// codes the file system folds together, meet in one file). Anything else under that name is
// refused: EEXIST, or the system's error for what stands there (a symlink, a directory, a named
// pipe). The empty name names no file (ENOENT). Each call returns false (or -1), with errno set,
// on failure.
int create_output(Directory& directory, const Path& name);
bool write_output(int file, const unsigned char* data, std::size_t size);
bool close_output(int file);

// Copies up to `size` bytes of the book, from `offset` on, to the end of the output file inside
// the kernel, where the system can and where that was measured to pay (Linux, an output file in
// memory), and moves the book stream past what it copied. Sets `copied` to the number of bytes
// copied: fewer than `size` (0 elsewhere) when the kernel refuses or fails, or the book ends
// early; the rest is the caller's to copy, whose reads and writes then report what fails. Returns
// false, with errno set, when the book stream cannot be moved past the copy.
bool copy_in_kernel(std::FILE* book, std::uint64_t offset, int output, std::uint64_t size,
                    std::uint64_t& copied);
