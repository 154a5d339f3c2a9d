// What differs between POSIX systems and the Windows console: the directory separator, the names
// a file system entry may take, and the calls that create and enter directories and write files.
// Everything else in the program is written once, for both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

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

// Opens a book file from the command line for binary reading and makes the folder that holds it
// (its directory part, or the working directory when it has none) the working directory. On
// POSIX the folder is held by a descriptor while the book is opened in it and entered, so the
// folder the book is read from is the folder its output goes to, whatever is renamed meanwhile.
// Returns nullptr, with errno set, when the book cannot be opened; a folder that cannot be
// entered leaves the working directory where it was.
std::FILE* open_book(const Path& path);

// Sets signals that would end the run in place of an error (a write past the file size limit, a
// message to a pipe nobody reads) to be ignored, so that the failing call reports the error.
void ignore_write_signals();

// A command-line text as the console shows it: unchanged on POSIX; on Windows converted to the
// console's code page, with a stand-in for each character it lacks.
std::string console_text(const Path& text);

// The working directory, held so that the run can return to it even when it is renamed or its
// path is longer than the system would report: by a descriptor on POSIX, by its whole path on
// Windows.
#ifdef _WIN32
struct HeldDirectory {
  std::wstring path;
};
#else
struct HeldDirectory {
  int descriptor = -1;
};
#endif
// Each returns false, with errno set, on failure.
bool hold_working_directory(HeldDirectory& held);
bool return_to(const HeldDirectory& held);

// Whether `name` names one entry inside the working directory: not ".", not "..", no separator,
// and on Windows nothing that the system would send to a device, another drive or directory, or
// an alternate data stream. The empty name is the caller's to judge.
//
// Names from the book (the output directory, the resource files) are passed as bytes, unchanged,
// to the system's narrow calls: on Windows they mean what they mean in the ANSI code page, so
// they are judged as the characters of that code page (a double-byte character whose second
// byte is 0x5C is no separator), and bytes that are no characters there are refused.
bool is_plain_name(const char* name);
bool is_plain_posix_name(const char* name);
bool is_plain_windows_name(const std::wstring& name);

// Makes the directory `name`, just created, the working directory, never by a symlink that has
// taken its place (on POSIX); false, with errno set, on failure.
bool enter_new_directory(const char* name);
// Creates one directory with the default permissions. Returns false with errno set on failure;
// errno is EEXIST when an entry of that name exists already.
bool make_directory(const char* name);

// The length of the file behind `stream`, when it is a regular file.
bool regular_file_length(std::FILE* stream, std::uint64_t& length);

// Output files, created for binary writing with the default permissions. A name that exists
// already is emptied and written again only when it is a file this run could have made: a
// regular file with one link, reached by no symlink (two records of one type code, or codes the
// file system folds together, meet in one file). Anything else there is refused (EEXIST, or the
// system's error for a symlink or a directory). Each call returns false (or -1), with errno set,
// on failure.
int create_output(const char* name);
bool write_output(int file, const unsigned char* data, std::size_t size);
bool close_output(int file);

// Copies up to `size` bytes of the book, from `offset` on, to the end of the output file inside
// the kernel, where the system can and where that was measured to pay (Linux, an output file in
// memory), and moves the book stream past what it copied. Sets `copied` to the number of bytes
// copied: fewer than `size` (0 elsewhere) when the kernel refuses or the book ends early, the
// rest being the caller's to copy. Returns false, with errno set, when the copy fails.
bool copy_in_kernel(std::FILE* book, std::uint64_t offset, int output, std::uint64_t size,
                    std::uint64_t& copied);
