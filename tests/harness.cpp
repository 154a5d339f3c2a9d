#include "tests/harness.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include "bookfile/bookfile.h"
#include "platform/platform.h"
#include "tests/exit_seam.h"
#include "tests/files.h"
#include "tests/oracle.h"
#include "unpack/unpack.h"

namespace fs = std::filesystem;

namespace {

// How many file descriptors the process holds: one more after a run that left a file open.
std::ptrdiff_t open_descriptors() {
  const char* const listing = fs::exists("/proc/self/fd") ? "/proc/self/fd" : "/dev/fd";
  return std::distance(fs::directory_iterator(listing), {});
}

// Checks the scratch directory against `expected`; "" when all is well.
std::string check(const Scratch& scratch, const ExpectedOutput& expected, bool ended) {
  if (std::distance(fs::directory_iterator(scratch.root), {}) != 1) {
    return "an entry beside the scratch directory";
  }
  bool output_seen = false;
  for (const auto& entry : fs::directory_iterator(scratch.directory)) {
    const std::string name = entry.path().filename().string();
    if (entry.path() == scratch.book) continue;
    if (name != expected.directory || !entry.is_directory()) return "unexpected entry " + name;
    output_seen = true;
    std::map<std::string, std::string> seen;
    for (const auto& file : fs::directory_iterator(entry.path())) {
      const std::string file_name = file.path().filename().string();
      if (file.is_directory()) return "a directory inside the output: " + file_name;
      const std::string& bytes = seen[file_name] = read_file(file.path());
      if (file_name == layout::kInfoFileName && expected.info && bytes == *expected.info) continue;
      const auto [first, last] = expected.files.equal_range(file_name);
      if (std::none_of(first, last, [&](const auto& record) { return record.second == bytes; })) {
        return "bytes the book does not hold there in " + file_name;
      }
    }
    // After success the output holds RSRC.INF and, for each name, the last record's data.
    if (!ended && (seen.erase(layout::kInfoFileName) != 1 || seen != expected.last)) {
      return "not RSRC.INF and each name's last record after success";
    }
  }
  if (!ended && !output_seen) return "success without output";
  return "";
}

}  // namespace

Scratch make_scratch() {
  const std::string root = make_temp_directory(memory_folder());
  Scratch scratch{root, root + "/scratch", root + "/scratch/book.imp", std::tmpfile()};
  fs::create_directory(scratch.directory);
  return scratch;
}

void remove_scratch(const Scratch& scratch) {
  std::fclose(scratch.messages);
  remove_tree(scratch.root);
}

InProcessRun unpack_and_check(const Scratch& scratch, const std::uint8_t* data, std::size_t size) {
  if (chdir(scratch.directory.c_str()) != 0) throw std::runtime_error("cannot enter the scratch");
  const std::ptrdiff_t open_before = open_descriptors();
  InProcessRun run{false, "", ""};
  const int saved_stderr = dup(2);
  dup2(fileno(scratch.messages), 2);
  try {
    Directory folder;
    unpack_book(open_book(scratch.book, folder), folder);
  } catch (const RunEnded& ended) {
    run.ended = true;
    if (ended.status != -1) run.broken = "ended with status " + std::to_string(ended.status);
  }
  std::fflush(stderr);
  dup2(saved_stderr, 2);
  close(saved_stderr);
  const int messages = fileno(scratch.messages);
  run.message.resize(static_cast<std::size_t>(lseek(messages, 0, SEEK_END)));
  if (pread(messages, run.message.data(), run.message.size(), 0) < 0 ||
      ftruncate(messages, 0) != 0 || lseek(messages, 0, SEEK_SET) != 0) {
    throw std::runtime_error("cannot read the run's messages");
  }
  ExpectedOutput expected = expected_output(std::string(reinterpret_cast<const char*>(data), size));
  // A book named after its own file finds that name taken first.
  if (expected.directory == fs::path(scratch.book).filename()) expected.message.clear();
  const std::string broken = check(scratch, expected, run.ended);
  // Whatever the check found, all that the run left goes, so that the next run has the book alone.
  for (const std::string& folder : {scratch.root, scratch.directory})
    for (const fs::path& left : std::vector<fs::path>(fs::directory_iterator(folder), {}))
      if (left != scratch.book && left != scratch.directory) fs::remove_all(left);
  if (run.broken.empty()) run.broken = broken;
  if (run.broken.empty() && !expected.message.empty() && run.message != expected.message) {
    run.broken = "the message \"" + run.message + "\", not \"" + expected.message + "\"";
  }
  if (run.broken.empty() && open_descriptors() != open_before) run.broken = "a file left open";
  return run;
}
