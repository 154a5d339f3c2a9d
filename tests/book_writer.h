// A small book writer for tests, the fuzz seeds, the benchmark and the sample book. It writes
// the layout by hand, apart from the reader's code, and lets a test declare sizes and counts
// that disagree with the bytes that follow.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bookfile/bookfile.h"

struct TestResource {
  std::string type;  // the four type bytes
  std::string data;
  std::optional<std::uint32_t> directory_size;  // the size in the directory entry
  std::optional<std::uint32_t> record_size;     // the size in the entry that opens the record
  std::uint32_t extra_a = 0;
  std::string extra_raw = std::string(4, '\0');
  std::uint32_t extra_b = 0;
};

struct TestBook {
  std::uint16_t version = 2;
  std::string signature = "BOOKVELT";
  std::string extra = std::string(8, '\0');
  std::string info;
  std::string name = "Novel";
  std::vector<TestResource> resources;
  std::optional<std::uint16_t> resource_count;  // the counts as stored, when they disagree
  std::optional<std::uint16_t> name_length;
  std::optional<std::uint16_t> info_length;
};

// A book named `name`, holding `resources`, of `version`, with the info block `info`.
TestBook book_named(const std::string& name, std::vector<TestResource> resources = {},
                    std::uint16_t version = 2, const std::string& info = "info");

// The header `book` stores, as the reader fills it.
ImpHeader header_of(const TestBook& book);

void put_be16(std::string& out, std::uint16_t value);
void put_be32(std::string& out, std::uint32_t value);

std::string make_book(const TestBook& book);

// The bytes "RSRC.INF" must hold for `book`.
std::string expected_info_file(const TestBook& book);

// What a book may leave behind, read from its bytes apart from the unpacker, by POSIX's rules
// for names.
struct ExpectedOutput {
  std::string directory;                          // "" when no output directory may be created
  std::optional<std::string> info;                // RSRC.INF, when the book gets that far
  std::multimap<std::string, std::string> files;  // every record whose data is whole
  std::map<std::string, std::string> last;        // the file each name holds after a full run
  std::string message;  // what a book cut short must end with; "" where that is not told here
};
ExpectedOutput expected_output(const std::string& book);

// A book of either version with every feature: info block, blank type, empty resource,
// duplicate type codes (the later one wins), a type cut by a zero byte.
TestBook sample_book(std::uint16_t version);

// `size` bytes in a pattern that does not repeat at short strides, so that bytes copied from the
// wrong place show.
std::string patterned_bytes(std::size_t size);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

// A fresh empty directory for one test below `base` (the system's temporary directory when ""),
// removed again by the caller's `remove_tree`.
std::string make_temp_directory(const std::string& base = "");
void remove_tree(const std::string& path);
