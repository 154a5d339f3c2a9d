// The rules for paths and names that every host tests: the folder of a path and the names a file
// system entry may take, on POSIX and on Windows.
#include <cerrno>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace {

template <typename String>
SplitPath<String> split_at(const String& path, std::size_t separator, std::size_t root_length) {
  if (separator == String::npos) return {String(), path};
  // The separator of a root stays: "/" and "C:\" name the root, "" and "C:" do not.
  return {path.substr(0, separator < root_length ? separator + 1 : separator),
          path.substr(separator + 1)};
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

// How far the root of a Windows path reaches, its last separator included: "C:\", "\", "\\?\C:\"
// and "\\.\C:\", "\\server\share\" and "\\?\UNC\server\share\"; 2 for the drive-relative "C:".
std::size_t windows_root_length(const std::wstring& path) {
  // The end of the component that starts at `from`, its separator included.
  const auto past_component = [&](std::size_t from) {
    const std::size_t separator = path.find(L'\\', from);
    return separator == std::wstring::npos ? path.size() : separator + 1;
  };
  const bool has_drive = path.size() >= 2 && is_drive_letter(path[0]) && path[1] == L':';
  if (has_drive) return path.size() >= 3 && path[2] == L'\\' ? 3 : 2;
  if (path.compare(0, 2, L"\\\\") != 0) return path.compare(0, 1, L"\\") == 0 ? 1 : 0;
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) {
    std::wstring unc = path.substr(4, 4);
    for (wchar_t& c : unc) c = ascii_upper(c);
    // A device path names a drive, a UNC share or another device (a volume's GUID name).
    if (unc == L"UNC\\") return past_component(past_component(8));
    return past_component(4);
  }
  return past_component(past_component(2));  // a UNC path: server, then share
}

}  // namespace

SplitPath<std::string> split_posix_path(const std::string& path) {
  return split_at(path, path.rfind('/'), 1);
}

// Splitting the UTF-16 form on the wide backslash never mistakes the second byte of a character
// in a multi-byte code page (0x5C in Shift-JIS) for a separator.
SplitPath<std::wstring> split_windows_path(const std::wstring& path) {
  return split_at(path, path.rfind(L'\\'), windows_root_length(path));
}

bool is_plain_posix_name(const char* name) {
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

bool is_plain_windows_name(const std::wstring& name) {
  bool only_dots_and_blanks = true;
  for (const wchar_t c : name) {
    if (c < 32 || std::wcschr(L"/\\:<>\"|?*", c) != nullptr) return false;
    if (c != L'.' && c != L' ') only_dots_and_blanks = false;
  }
  // Windows trims trailing dots and blanks; a name of nothing else ("." and ".." among them)
  // would name the directory itself or its parent.
  if (!name.empty() && only_dots_and_blanks) return false;
  return !is_device_name(name);
}

bool names_no_file(const Path& path) {
  if (path.empty()) errno = ENOENT;
  return path.empty();
}
