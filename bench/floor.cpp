// The floor for many small files: creates the files listed in SIZES ("name size" per line) in a
// new directory DIR, with one open, one write and one close each.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::vector<std::pair<std::string, std::size_t>> files;
  std::size_t largest = 0;
  if (std::FILE* sizes = std::fopen(argv[1], "r")) {
    char name[256];
    std::size_t size;
    while (std::fscanf(sizes, "%255s %zu", name, &size) == 2) {
      files.emplace_back(name, size);
      if (size > largest) largest = size;
    }
    std::fclose(sizes);
  }
  const std::vector<unsigned char> data(largest, 'x');
  if (mkdir(argv[2], 0777) != 0 || chdir(argv[2]) != 0) return 1;
  for (const auto& [name, size] : files) {
    const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file < 0 || write(file, data.data(), size) != static_cast<ssize_t>(size)) return 1;
    close(file);
  }
  return 0;
}
