// What a book may leave behind, read from its bytes by the test-side reading of the format
// (tests/book_writer.h), apart from the unpacker, by POSIX's rules for names.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tests/book_writer.h"

struct ExpectedOutput {
  std::string directory;                          // "" when no output directory may be created
  std::optional<std::string> info;                // RSRC.INF, when the book gets that far
  std::multimap<std::string, std::string> files;  // every record whose data is whole
  std::map<std::string, std::string> last;        // the file each name holds after a full run
  std::string message;  // what a book cut short must end with; "" where that is not told here
};
ExpectedOutput expected_output(const std::string& book);

// The bytes "RSRC.INF" must hold for `book`.
std::string expected_info_file(const TestBook& book);
