// Writes the sample book of either version: make_sample_book PATH [1|2]
#include <cstdlib>
#include <iostream>

#include "tests/book_writer.h"
#include "tests/files.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: make_sample_book PATH [1|2]\n";
    return 2;
  }
  const int version = argc == 3 ? std::atoi(argv[2]) : 2;
  write_file(argv[1], make_book(sample_book(static_cast<std::uint16_t>(version))));
  return 0;
}
