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

// The tool's messages, as its users read them.
constexpr char kPrompt[] = "Press any key to continue...\n";
constexpr char kExists[] = "The res directory already exists.  Please delete it first\n";
constexpr char kMissing[] = "fopen: No such file or directory\n";
constexpr char kHeaderCut[] = "Not an IMP file (couldn't read)\n";
constexpr char kHeadCut[] = "Not a complete IMP file (info block or name cut short)\n";
constexpr char kEntryCut[] = "Couldn't read directory entry";
constexpr char kDataCut[] = "Not a complete IMP file (resource data cut short)\n";
inline std::string refused_book_name(const std::string& shown) {
  return "Refusing book name \"" + shown + "\": it must name one new directory\n";
}
constexpr char kTaken[] = "Refusing output directory \"Novel\": something else took its place\n";
