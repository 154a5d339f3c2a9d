#include "tests/files.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string make_temp_directory(const std::string& base) {
  const std::filesystem::path parent =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path made = parent / ("impx-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(made)) return made.string();  // false when it exists
  }
  throw std::runtime_error("cannot make a temporary directory in " + parent.string());
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string memory_folder() {
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "";
}
