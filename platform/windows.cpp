// The Windows console: wide paths from the command line, the C runtime's narrow calls for names
// from the book, and the ANSI code page they are read in.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/platform.h"

#ifdef __MINGW32__
// Have the MinGW runtime expand wildcard patterns in the arguments ("impx *.imp"), as the
// Windows shell leaves them to the program. (MSVC builds link wsetargv.obj instead.)
int _dowildcard = -1;
#endif

bool is_plain_name(const char* name) {
  // The name in the characters of the ANSI code page, in which the system will read it.
  const int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
  if (size <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, wide.data(), size);
  wide.resize(static_cast<std::size_t>(size) - 1);
  return is_plain_windows_name(wide);
}

// Windows has no descriptor that can become the working directory: the book's folder is entered
// by name, after the book is opened.
std::FILE* open_book(const Path& path) {
  std::FILE* book = _wfopen(path.c_str(), L"rb");
  const Path folder = windows_directory_part(path);
  if (book != nullptr && !folder.empty()) _wchdir(folder.c_str());
  return book;
}

// Windows raises neither signal: a failed write returns its error.
void ignore_write_signals() {}

std::string console_text(const Path& text) {
  // The C runtime's own conversion drops the whole text when one character has no match.
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = GetACP();
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(code_page, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(code_page, 0, text.data(), length, converted.data(), size, nullptr,
                        nullptr);
  }
  return converted;
}

bool hold_working_directory(HeldDirectory& held) {
  // The system says how long the path is; it may be longer than 260 characters.
  for (DWORD size = GetCurrentDirectoryW(0, nullptr); size > 0;) {
    held.path.assign(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, held.path.data());
    if (length < size) {
      held.path.resize(length);
      return length > 0;
    }
    size = length;  // the directory changed in between and grew
  }
  errno = ENOENT;
  return false;
}

bool return_to(const HeldDirectory& held) {
  return _wchdir(held.path.c_str()) == 0;
}

bool enter_new_directory(const char* name) {
  return _chdir(name) == 0;
}
bool make_directory(const char* name) {
  return _mkdir(name) == 0;
}

bool regular_file_length(std::FILE* stream, std::uint64_t& length) {
  struct _stat64 status;
  if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return false;
  length = static_cast<std::uint64_t>(status.st_size);
  return true;
}

int create_output(const char* name) {
  const int file = _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (file >= 0 || errno != EEXIST) return file;
  // The entry itself, not where a reparse point (a symlink, a junction) leads.
  const HANDLE handle = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EEXIST;
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION status;
  const DWORD not_a_plain_file = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if (!GetFileInformationByHandle(handle, &status) ||
      (status.dwFileAttributes & not_a_plain_file) != 0 || status.nNumberOfLinks != 1 ||
      !SetEndOfFile(handle)) {
    CloseHandle(handle);
    errno = EEXIST;
    return -1;
  }
  const int reopened = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (reopened < 0) CloseHandle(handle);
  return reopened;
}

bool write_output(int file, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    const int written = _write(file, data, chunk);
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool close_output(int file) {
  return _close(file) == 0;
}

// Windows has no copy inside the kernel that pays here; read and write do every copy.
bool copy_in_kernel(std::FILE*, std::uint64_t, int, std::uint64_t, std::uint64_t& copied) {
  copied = 0;
  return true;
}
