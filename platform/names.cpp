// The rules for paths and names that every host tests: the directory part of a path and the names
// a file system entry may take, on POSIX and on Windows.
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

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
