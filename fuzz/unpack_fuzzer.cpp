// Drives one book end to end through the real code (header, info file, directory, every resource
// file) in a scratch directory, and checks what matters beyond crashes: nothing is created outside
// the book's output directory, every output file holds bytes the book holds at that place, and no
// file handle or working directory is left behind for the next input.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "bookfile/bookfile.h"
#include "platform/platform.h"
#include "tests/exit_seam.h"
#include "unpack/unpack.h"

namespace fs = std::filesystem;

namespace {

// What a book may leave behind, from a reading of the bytes of its own.
struct Expected {
  std::string directory;                          // "" when no output directory may be created
  std::optional<std::string> info;                // RSRC.INF, when the book gets that far
  std::multimap<std::string, std::string> files;  // every record whose data is whole
  std::map<std::string, std::string> last;        // the file each name holds after a full run
};

std::uint32_t be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}
std::uint16_t be16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

Expected expect(const std::uint8_t* data, std::size_t size) {
  Expected expected;
  if (size < 24 || std::memcmp(data + 2, "BOOKVELT", 8) != 0) return expected;
  const unsigned version = be16(data);
  if (version != 1 && version != 2) return expected;
  const std::size_t count = be16(data + 18), name_length = be16(data + 20),
                    info_length = be16(data + 22);
  if (size < 24 + info_length + name_length) return expected;
  const std::string name(
      reinterpret_cast<const char*>(data) + 24 + info_length,
      strnlen(reinterpret_cast<const char*>(data) + 24 + info_length, name_length));
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return expected;
  }
  expected.directory = name;
  expected.info = std::string(
                      "\x00\x01"
                      "BOOKVELT",
                      10) +
                  std::string(reinterpret_cast<const char*>(data) + 22, 2 + info_length);
  const std::size_t entry = version == 2 ? 20 : 10, size_at = version == 2 ? 8 : 6;
  std::size_t at = 24 + info_length + name_length + count * entry;
  for (std::size_t i = 0; i < count && at + entry <= size; ++i) {
    const std::uint32_t length = be32(data + at + size_at);
    std::string file = std::memcmp(data + at, "    ", 4) == 0
                           ? "DATA.FRK"
                           : std::string(reinterpret_cast<const char*>(data) + at,
                                         strnlen(reinterpret_cast<const char*>(data) + at, 4));
    at += entry;
    if (length > size - at) break;
    const std::string bytes(reinterpret_cast<const char*>(data) + at, length);
    expected.files.emplace(file, bytes);
    expected.last[file] = bytes;
    at += length;
  }
  return expected;
}

std::string read_all(const fs::path& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
    std::fclose(file);
  }
  return bytes;
}

[[noreturn]] void broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\nPROPERTY BROKEN: %s: %s\n", what, detail.c_str());
  std::abort();
}

fs::path start, root, scratch;
int probe_descriptor() {
  const int probe = open("/dev/null", O_RDONLY);
  close(probe);
  return probe;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/impx-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  root = pattern;
  start = fs::current_path();
  scratch = root / "scratch";
  fs::create_directory(scratch);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  });
  // The messages of refused books are not what the fuzzer reports on.
  std::freopen("/dev/null", "r", stdin);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (chdir(scratch.c_str()) != 0) std::abort();
  {
    std::FILE* out = std::fopen("book.imp", "wb");
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  }
  const int lowest_free_descriptor = probe_descriptor();
  bool ended = false;
  std::FILE* book = std::fopen("book.imp", "rb");
  try {
    unpack_book(book);
  } catch (const RunEnded& run) {
    ended = true;
    if (run.status != -1) broken("status", std::to_string(run.status));
  }
  if (chdir(scratch.c_str()) != 0) std::abort();

  const Expected expected = expect(data, size);
  int entries_in_root = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++entries_in_root;
  }
  if (entries_in_root != 1) broken("outside the scratch directory", "entry beside it");
  for (const auto& entry : fs::directory_iterator(scratch)) {
    const std::string name = entry.path().filename().string();
    if (name == "book.imp") continue;
    if (name != expected.directory || !entry.is_directory()) broken("unexpected entry", name);
    std::size_t files = 0;
    for (const auto& file : fs::directory_iterator(entry.path())) {
      const std::string file_name = file.path().filename().string();
      const std::string bytes = read_all(file.path());
      ++files;
      if (file.is_directory()) broken("directory inside the output", file_name);
      if (file_name == kInfoFileName && expected.info && bytes == *expected.info) continue;
      const auto range = expected.files.equal_range(file_name);
      bool found = false;
      for (auto it = range.first; it != range.second && !found; ++it) found = it->second == bytes;
      if (!found) broken("bytes the book does not hold there", file_name);
    }
    if (!ended) {
      if (files != expected.last.size() + 1) {
        broken("files missing after success", std::to_string(files));
      }
      for (const auto& [file_name, bytes] : expected.last) {
        if (read_all(entry.path() / file_name) != bytes) broken("wrong last file", file_name);
      }
    }
    fs::remove_all(entry.path());
  }
  if (!ended && expected.directory.empty()) broken("success without output", "");
  if (probe_descriptor() != lowest_free_descriptor) broken("file handle left open", "");
  // libFuzzer reads its corpus by the paths it was given.
  if (chdir(start.c_str()) != 0) std::abort();
  return 0;
}
