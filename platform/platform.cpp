#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#ifdef _WIN32
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
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef __linux__
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/vfs.h>
#endif

#ifdef __MINGW32__
// Have the MinGW runtime expand wildcard patterns in the arguments ("impx *.imp"), as the
// Windows shell leaves them to the program. (MSVC builds link wsetargv.obj instead.)
int _dowildcard = -1;
#endif

namespace {

template <typename Char>
std::basic_string<Char> directory_part_before(const std::basic_string<Char>& path,
                                              std::size_t separator, std::size_t root_length) {
  if (separator == std::basic_string<Char>::npos) return {};
  // The separator of a root stays: "/" and "C:\" name the root, "" and "C:" do not.
  return path.substr(0, separator < root_length ? separator + 1 : separator);
}

bool is_drive_letter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

wchar_t ascii_upper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Windows sends these names to devices, in any letter case, alone or followed by blanks, dots
// or an extension; COM and LPT take a digit or a superscript one, two or three.
bool is_device_name(const std::wstring& name) {
  std::wstring stem;
  for (std::size_t i = 0; i < name.size() && name[i] != L'.'; ++i) stem += ascii_upper(name[i]);
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  if (stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0)) {
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
  }
  return false;
}

}  // namespace

std::string posix_directory_part(const std::string& path) {
  return directory_part_before(path, path.rfind('/'), 1);
}

// Splitting the UTF-16 form on the wide backslash never mistakes the second byte of a character
// in a multi-byte code page (0x5C in Shift-JIS) for a separator.
std::wstring windows_directory_part(const std::wstring& path) {
  const bool has_drive = path.size() >= 2 && is_drive_letter(path[0]) && path[1] == L':';
  return directory_part_before(path, path.rfind(L'\\'), has_drive ? 3 : 1);
}

bool is_plain_posix_name(const char* name) {
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

bool is_plain_windows_name(const std::wstring& name) {
  if (name == L"." || name == L"..") return false;
  bool only_dots_and_blanks = true;
  for (const wchar_t c : name) {
    if (c < 32 || std::wcschr(L"/\\:<>\"|?*", c) != nullptr) return false;
    if (c != L'.' && c != L' ') only_dots_and_blanks = false;
  }
  // Windows trims trailing dots and blanks; a name of nothing else would name the directory
  // itself or its parent.
  if (!name.empty() && only_dots_and_blanks) return false;
  return !is_device_name(name);
}

#ifdef _WIN32

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

#else

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

#endif

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
    off_t position = static_cast<off_t>(offset + copied);
    ssize_t done;
    if (use_copy_file_range) {
      done = copy_file_range(from, &position, output, nullptr, chunk, 0);
      if (done < 0 && refused(errno)) {
        use_copy_file_range = false;
        continue;
      }
    } else {
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
