// Writes the benchmark's books with the project's writer:
//   make_books DIR   ->   DIR/large-1.imp, large-4.imp (64 MiB resources),
//                         DIR/small-2000.imp, small-20000.imp (200 to 1,200 bytes each),
//                         DIR/library/book-0000.imp ... book-0999.imp (5 to 40 resources of
//                         100 bytes to 40 KiB each)
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "tests/book_writer.h"
#include "tests/files.h"

namespace {

// Distinct four-letter type codes: AAAA, AAAB, ...
std::string type_code(unsigned n) {
  std::string code(4, 'A');
  for (int i = 3; i >= 0; --i, n /= 26)
    code[static_cast<std::size_t>(i)] = static_cast<char>('A' + n % 26);
  return code;
}

TestBook book(const std::string& name, unsigned count, std::size_t min_size, std::size_t max_size,
              unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> size(min_size, max_size);
  TestBook out;
  out.name = name;
  out.info = std::string(40, 'i');
  for (unsigned i = 0; i < count; ++i) {
    std::string data(size(random), '\0');
    for (char& c : data) c = static_cast<char>(random());
    out.resources.push_back({type_code(i), std::move(data)});
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  std::filesystem::create_directories(dir + "/library");
  for (unsigned count : {1u, 4u}) {
    const std::string name = "large-" + std::to_string(count);
    write_file(dir + "/" + name + ".imp",
               make_book(book(name, count, 64u << 20, 64u << 20, count)));
  }
  for (unsigned count : {2000u, 20000u}) {
    const std::string name = "small-" + std::to_string(count);
    write_file(dir + "/" + name + ".imp", make_book(book(name, count, 200, 1200, count)));
  }
  std::mt19937 random(1000);
  std::uniform_int_distribution<unsigned> resources(5, 40);
  for (unsigned n = 0; n < 1000; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "book-%04u", n);
    write_file(dir + "/library/" + name + ".imp",
               make_book(book(name, resources(random), 100, 40u << 10, n)));
  }
  return 0;
}
