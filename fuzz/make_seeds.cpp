// Writes the seed corpus: books of both versions with every feature, made by the project's writer.
#include <string>

#include "tests/book_writer.h"
#include "tests/files.h"
#include "unpack/unpack.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  int n = 0;
  auto seed = [&](const TestBook& book) {
    write_file(dir + "/seed-" + std::to_string(n++) + ".imp", make_book(book));
  };
  for (std::uint16_t version : {1, 2}) {
    seed(sample_book(version));
    TestBook empty;
    empty.version = version;
    seed(empty);
    TestBook odd = sample_book(version);
    odd.resources.push_back({std::string("..\0\0", 4), "x"});
    seed(odd);
    TestBook sizes = sample_book(version);
    sizes.resources[0].directory_size = 1;
    sizes.resources[3].record_size = 0xFFFFFFFF;
    seed(sizes);
    TestBook short_name = sample_book(version);
    short_name.name = std::string("Ab\0cd", 5);
    short_name.name_length = 40;
    seed(short_name);
  }
  // A resource large enough for the kernel to copy, between two small ones.
  seed(book_named(
      "Large",
      {{"SMAL", "small"}, {"LARG", std::string(kKernelCopyMin + 1, 'L')}, {"LAST", "last"}}));
  return 0;
}
