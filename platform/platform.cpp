#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef __MINGW32__
// Have the MinGW runtime expand wildcard patterns in the arguments ("impx *.imp"), as the
// Windows shell leaves them to the program. (MSVC builds link setargv.obj instead.)
int _dowildcard = -1;
#endif

namespace {

std::string directory_part_before(const std::string& path, std::string::size_type separator,
                                  std::string::size_type root_length) {
  if (separator == std::string::npos) return "";
  // The separator of a root stays: "/" and "C:\" name the root, "" and "C:" do not.
  return path.substr(0, separator < root_length ? separator + 1 : separator);
}

bool is_drive_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char ascii_upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows sends these names to devices, in any letter case, alone or followed by blanks, dots
// or an extension. The superscript digits are those of the ANSI code page (1252).
bool is_device_name(const char* name) {
  std::string stem;
  for (const char* p = name; *p != '\0' && *p != '.'; ++p) stem += ascii_upper(*p);
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (stem == device) return true;
  }
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
    const unsigned char digit = static_cast<unsigned char>(stem[3]);
    return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

}  // namespace

std::string posix_directory_part(const std::string& path) {
  return directory_part_before(path, path.rfind('/'), 1);
}

std::string windows_directory_part(const std::string& path) {
  const bool has_drive = path.size() >= 2 && is_drive_letter(path[0]) && path[1] == ':';
  return directory_part_before(path, path.rfind('\\'), has_drive ? 3 : 1);
}

bool is_plain_posix_name(const char* name) {
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

bool is_plain_windows_name(const char* name) {
  if (!is_plain_posix_name(name)) return false;
  bool only_dots_and_blanks = true;
  for (const char* p = name; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || std::strchr("\\:<>\"|?*", c) != nullptr) return false;
    if (c != '.' && c != ' ') only_dots_and_blanks = false;
  }
  // Windows trims trailing dots and blanks; a name of nothing else would name the directory
  // itself or its parent.
  if (*name != '\0' && only_dots_and_blanks) return false;
  return !is_device_name(name);
}

#ifdef _WIN32

std::string directory_part(const std::string& path) {
  return windows_directory_part(path);
}
bool is_plain_name(const char* name) {
  return is_plain_windows_name(name);
}

std::string current_directory() {
  char* text = _getcwd(nullptr, 0);
  if (text == nullptr) return "";
  std::string directory(text);
  std::free(text);
  return directory;
}

bool change_directory(const char* path) {
  return _chdir(path) == 0;
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
  return _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
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

std::string directory_part(const std::string& path) {
  return posix_directory_part(path);
}
bool is_plain_name(const char* name) {
  return is_plain_posix_name(name);
}

std::string current_directory() {
  std::vector<char> text(256);
  while (getcwd(text.data(), text.size()) == nullptr) {
    if (errno != ERANGE) return "";
    text.resize(text.size() * 2);
  }
  return text.data();
}

bool change_directory(const char* path) {
  return chdir(path) == 0;
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
  return open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
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
