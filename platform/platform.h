// What differs between POSIX systems and the Windows console: the directory separator, the names
// a file system entry may take, and the calls that create and enter directories and write files.
// Everything else in the program is written once, for both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The text before the path's last directory separator ('/' on POSIX, '\' on Windows), or "" when
// the path has none. A path in a root ("/a.imp", "\a.imp", "C:\a.imp") keeps the root's separator,
// so that the book's output is placed in that root.
std::string directory_part(const std::string& path);
std::string posix_directory_part(const std::string& path);
std::string windows_directory_part(const std::string& path);

// Whether `name` names one entry inside the working directory: not ".", not "..", no separator,
// and on Windows nothing that the system would send to a device, another drive or directory, or
// an alternate data stream. The empty name is the caller's to judge.
bool is_plain_name(const char* name);
bool is_plain_posix_name(const char* name);
bool is_plain_windows_name(const char* name);

// The working directory, or "" when it cannot be told.
std::string current_directory();
// Returns false, with errno set, when the change fails.
bool change_directory(const char* path);
// Creates one directory with the default permissions. Returns false with errno set on failure;
// errno is EEXIST when an entry of that name exists already.
bool make_directory(const char* name);

// The length of the file behind `stream`, when it is a regular file.
bool regular_file_length(std::FILE* stream, std::uint64_t& length);

// Output files, created empty for binary writing with the default permissions ("wb"). Each call
// returns false (or -1), with errno set, on failure.
int create_output(const char* name);
bool write_output(int file, const unsigned char* data, std::size_t size);
bool close_output(int file);
