// The Windows console: wide paths from the command line, names from the book read in the ANSI code
// page, and every directory held by a handle that the system's own calls (NtCreateFile) create
// and open entries relative to.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/platform.h"

#ifdef __MINGW32__
// Have the MinGW runtime expand wildcard patterns in the arguments ("impx *.imp"), as the
// Windows shell leaves them to the program. (MSVC builds link wsetargv.obj instead.)
int _dowildcard = -1;
#endif

namespace {

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Errors as the C runtime reports them, from the system's status of a failed call.
int errno_of_error(DWORD error) {
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    default:
      return EINVAL;
  }
}

int errno_of_status(NTSTATUS status) {
  return errno_of_error(RtlNtStatusToDosError(status));
}

// Opens or creates `name` inside the directory `root` in one call, by the handle: the name is
// looked up in that directory, wherever it now is, never through a path. Letter case folds as
// in every Windows program. Sets errno and returns nullptr on failure: EEXIST when the name exists
// already (STATUS_OBJECT_NAME_COLLISION).
HANDLE open_inside(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share,
                   ULONG disposition, ULONG options) {
  if (name.size() > 0x7FFF) {  // more than a name's length field holds
    errno = ENAMETOOLONG;
    return nullptr;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  const NTSTATUS status =
      NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                   share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) {
    errno = errno_of_status(status);
    return nullptr;
  }
  return handle;
}

// A C runtime descriptor for `handle`, which it then owns; -1 (and the handle closed) on failure.
int descriptor_of(HANDLE handle, int flags) {
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (descriptor < 0) CloseHandle(handle);
  return descriptor;
}

}  // namespace

bool entry_name(const char* bytes, Path& name) {
  // The name in the characters of the ANSI code page, in which the system would read it.
  const int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, -1, nullptr, 0);
  if (size <= 0) return false;
  name.assign(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, -1, name.data(), size);
  name.resize(static_cast<std::size_t>(size) - 1);
  if (!is_plain_windows_name(name)) return false;
  // What every Windows program does to a name before the file system sees it.
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return true;
}

Directory::~Directory() {
  if (handle != nullptr) CloseHandle(handle);
}

// The book's folder is held by a handle, and a book named plainly in it is opened by that handle.
// A last component that Windows would read as more than a name (a '/', a drive, a trailing dot)
// is opened by the whole path, as given, and its output goes to the folder of the directory part.
std::FILE* open_book(const Path& path, Directory& folder) {
  const auto [directory, file] = split_windows_path(path);
  folder.handle =
      CreateFileW(directory.empty() ? L"." : directory.c_str(), FILE_TRAVERSE, kShareAll, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder.handle == INVALID_HANDLE_VALUE) {
    folder.handle = nullptr;
    errno = errno_of_error(GetLastError());
    return nullptr;
  }
  const bool plain =
      !file.empty() && is_plain_windows_name(file) && file.back() != L'.' && file.back() != L' ';
  if (!plain) return _wfopen(path.c_str(), L"rb");
  const HANDLE book =
      open_inside(folder.handle, file, FILE_GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  FILE_OPEN, FILE_NON_DIRECTORY_FILE);
  const int descriptor = book != nullptr ? descriptor_of(book, _O_RDONLY) : -1;
  std::FILE* stream = descriptor >= 0 ? _fdopen(descriptor, "rb") : nullptr;
  if (stream == nullptr && descriptor >= 0) _close(descriptor);
  return stream;
}

// A console hands over the typed line whole in line-input mode, and each key otherwise.
Input standard_input() {
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) == 0) return Input::stream;
  return (mode & ENABLE_LINE_INPUT) != 0 ? Input::lines : Input::keys;
}

// Bytes as they come, never through the C runtime's text mode, which reads one byte past a
// carriage return to look for a line feed: the next key at a console, the next byte of a pipe.
std::size_t read_input(char* bytes, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes, static_cast<DWORD>(size), &got, nullptr)) {
    return 0;
  }
  return got;
}

// Windows raises neither signal: a failed write returns its error.
void ignore_write_signals() {}

std::string console_text(const Path& text) {
  // The C runtime's own conversion drops the whole text when one character has no match, and the
  // system's puts a look-alike in its place unless told not to ("cafė" is not "cafe").
  UINT code_page = GetConsoleOutputCP();
  if (code_page == 0) code_page = GetACP();
  const int length = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int size =
      WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0 && GetLastError() == ERROR_INVALID_FLAGS) {  // UTF-8 and a few others
    flags = 0;
    size = WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
  }
  std::string converted(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(code_page, flags, text.data(), length, converted.data(), size, nullptr,
                        nullptr);
  }
  return converted;
}

Making make_output_directory(const Directory& folder, const Path& name, Directory& output) {
  // Created and held in one call: there is no moment at which another entry could be reached.
  output.handle =
      open_inside(folder.handle, name,
                  FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                  kShareAll, FILE_CREATE, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
  if (output.handle != nullptr) return Making::made;
  return errno == EEXIST ? Making::exists : Making::failed;
}

// A handle holds the directory it was opened on, wherever that is renamed.
bool still_in_place(const Directory&) {
  return true;
}

bool regular_file_length(std::FILE* stream, std::uint64_t& length) {
  struct _stat64 status;
  if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return false;
  length = static_cast<std::uint64_t>(status.st_size);
  return true;
}

namespace {

// Asks the open file, by its handle alone, for what `information` holds; wine cannot name a file
// whose directory was renamed, so nothing that needs the file's name is asked for.
template <typename Information>
bool query(HANDLE file, FILE_INFORMATION_CLASS kind, Information& information) {
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtQueryInformationFile(file, &io, &information, sizeof information, kind);
  if (status < 0) errno = errno_of_status(status);
  return status >= 0;
}

// The file's ID, which names it on its volume.
bool file_id(HANDLE file, std::uint64_t& id) {
  FILE_INTERNAL_INFORMATION internal;
  if (!query(file, FileInternalInformation, internal)) return false;
  id = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
  return true;
}

// Closes `file`, keeping errno as it was, and gives back -1.
int closing(HANDLE file) {
  const int error = errno;
  CloseHandle(file);
  errno = error;
  return -1;
}

}  // namespace

// Output files are created in one call, never through a reparse point. A name that exists
// already is emptied and written again only when it is a file with one link whose file ID is one
// this run made there; anything else is refused with EEXIST.
int create_output(Directory& directory, const Path& name) {
  constexpr ACCESS_MASK kAccess = FILE_GENERIC_WRITE | FILE_READ_ATTRIBUTES;
  constexpr ULONG kOptions = FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
  std::uint64_t id = 0;
  HANDLE file =
      open_inside(directory.handle, name, kAccess, FILE_SHARE_READ, FILE_CREATE, kOptions);
  if (file != nullptr) {
    if (!file_id(file, id)) return closing(file);
    directory.created_ids.push_back(id);
    return descriptor_of(file, _O_WRONLY);
  }
  if (errno != EEXIST) return -1;
  // The entry itself, not where a reparse point (a symlink, a junction) leads; and only a file
  // this run made (wine shows the host's symlinks as plain files, but not with this run's IDs).
  file = open_inside(directory.handle, name, kAccess, FILE_SHARE_READ, FILE_OPEN, kOptions);
  if (file == nullptr) return -1;
  FILE_STANDARD_INFORMATION standard;
  FILE_BASIC_INFORMATION basic;
  if (!file_id(file, id) || !query(file, FileStandardInformation, standard) ||
      !query(file, FileBasicInformation, basic)) {
    return closing(file);
  }
  const auto& ids = directory.created_ids;
  if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || standard.Directory ||
      standard.NumberOfLinks != 1 || std::find(ids.begin(), ids.end(), id) == ids.end()) {
    errno = EEXIST;
    return closing(file);
  }
  if (!SetEndOfFile(file)) {
    errno = errno_of_error(GetLastError());
    return closing(file);
  }
  return descriptor_of(file, _O_WRONLY);
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
