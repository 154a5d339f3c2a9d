// Drives one book end to end through the real code (header, info file, directory, every resource
// file) in a scratch directory, with the checks of tests/harness.h on every input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/files.h"
#include "tests/harness.h"

namespace {

Scratch scratch;
std::filesystem::path start;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  scratch = make_scratch();
  start = std::filesystem::current_path();
  std::atexit([] { remove_scratch(scratch); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_file(scratch.book, std::string(reinterpret_cast<const char*>(data), size));
  const InProcessRun run = unpack_and_check(scratch, data, size);
  if (!run.broken.empty()) {
    std::fprintf(stderr, "\nPROPERTY BROKEN: %s\n", run.broken.c_str());
    std::abort();
  }
  // libFuzzer reads its corpus by the paths it was given.
  if (chdir(start.c_str()) != 0) std::abort();
  return 0;
}
