// A small book writer for tests, the fuzz seeds, the benchmark and the sample book. It states the
// format's facts itself, once, apart from the product's headers, so that the tests read the
// format a second time and a wrong constant in the product cannot pass a test built with it.
// A test may declare sizes and counts that disagree with the bytes that follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The book file, every number big-endian: a 24-byte header (version, "BOOKVELT", 8 extra bytes,
// resource count, name length, info length), the info block, the name, the directory of entries,
// then a record per resource: an entry and its data. An entry is 20 bytes in version 2 (type,
// extra_a, size, 4 raw bytes, extra_b) and 10 in version 1 (type, a 16-bit extra_a, size).
// "RSRC.INF" is the info block behind 0x00 0x01, "BOOKVELT" and the stored info length; the type
// of four blanks is written as "DATA.FRK".
namespace layout {
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kSignatureAt = 2;
constexpr std::size_t kCountAt = 18;
constexpr std::size_t kNameLengthAt = 20;
constexpr std::size_t kInfoLengthAt = 22;
constexpr std::size_t kTypeSize = 4;
constexpr std::size_t kEntrySizeV1 = 10;
constexpr std::size_t kEntrySizeV2 = 20;
constexpr std::size_t kSizeAtV1 = 6;
constexpr std::size_t kSizeAtV2 = 8;
constexpr char kSignature[] = "BOOKVELT";
constexpr char kInfoFileName[] = "RSRC.INF";
constexpr char kBlankType[] = "    ";
constexpr char kBlankTypeFileName[] = "DATA.FRK";
// The info file's first ten bytes, for books of either version.
const std::string kInfoFilePrefix = std::string("\x00\x01", 2) + kSignature;

constexpr std::size_t entry_size(std::uint16_t version) {
  return version == 2 ? kEntrySizeV2 : kEntrySizeV1;
}
}  // namespace layout

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
  std::string signature = layout::kSignature;
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

void put_be16(std::string& out, std::uint16_t value);
void put_be32(std::string& out, std::uint32_t value);

std::string make_book(const TestBook& book);

// Where `book`'s data region starts, after its directory, by the counts it stores.
std::size_t data_offset_of(const TestBook& book);

// A book of either version with every feature: info block, blank type, empty resource,
// duplicate type codes (the later one wins), a type cut by a zero byte.
TestBook sample_book(std::uint16_t version);

// `size` bytes in a pattern that does not repeat at short strides, so that bytes copied from the
// wrong place show.
std::string patterned_bytes(std::size_t size);
