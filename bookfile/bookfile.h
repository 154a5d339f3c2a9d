// The book file ("IMP file"). Every number is unsigned and big-endian.
//
//   offset 0          header, 24 bytes:
//                       0 version (2)   2 signature "BOOKVELT" (8)   10 extra (8)
//                      18 resource_count (2)   20 name_length (2)   22 info_length (2)
//   24                info block, info_length bytes (opaque)
//   then              book name, name_length bytes, no terminator
//   then              directory: resource_count entries
//   then              data: resource_count records, each an entry followed by `size` bytes
//
// An entry is 20 bytes in version 2:
//   0 type (4)   4 extra_a (4)   8 size (4)   12 extra_raw (4)   16 extra_b (4)
// and 10 bytes in version 1:
//   0 type (4)   4 extra_a (2)   6 size (4)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kSignatureOffset = 2;
constexpr std::size_t kSignatureSize = 8;
constexpr std::size_t kHeaderExtraOffset = 10;
constexpr std::size_t kHeaderExtraSize = 8;
constexpr std::size_t kResourceCountOffset = 18;
constexpr std::size_t kNameLengthOffset = 20;
constexpr std::size_t kInfoLengthOffset = 22;
constexpr char kSignature[] = "BOOKVELT";

constexpr std::size_t kEntrySizeV1 = 10;
constexpr std::size_t kEntrySizeV2 = 20;
constexpr std::size_t kTypeSize = 4;
constexpr std::size_t kV2ExtraAOffset = 4;
constexpr std::size_t kV2SizeOffset = 8;
constexpr std::size_t kV2ExtraRawOffset = 12;
constexpr std::size_t kExtraRawSize = 4;
constexpr std::size_t kV2ExtraBOffset = 16;
constexpr std::size_t kV1ExtraAOffset = 4;
constexpr std::size_t kV1SizeOffset = 6;

struct ImpHeader {
  std::uint16_t version;
  char signature[kSignatureSize];
  unsigned char extra[kHeaderExtraSize];
  std::uint16_t resource_count;
  std::uint16_t name_length;
  std::uint16_t info_length;
};

// One directory entry or resource record entry, in one form for both versions; the fields that
// version 1 lacks are zero.
struct ImpEntry {
  unsigned char type[kTypeSize];
  std::uint32_t extra_a;
  std::uint32_t size;
  unsigned char extra_raw[kExtraRawSize];
  std::uint32_t extra_b;
};

// An owned book stream, closed when its owner lets go of it.
struct CloseStream {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using BookStream = std::unique_ptr<std::FILE, CloseStream>;

inline std::uint16_t load_be16(const unsigned char* p) {
  return static_cast<std::uint16_t>((static_cast<std::uint32_t>(p[0]) << 8) | p[1]);
}

inline std::uint32_t load_be32(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline void store_be16(unsigned char* p, std::uint16_t value) {
  p[0] = static_cast<unsigned char>(value >> 8);
  p[1] = static_cast<unsigned char>(value);
}

// The size of one entry in the layout of `version` (version 1 for every version but 2).
constexpr std::size_t entry_size(std::uint16_t version) {
  return version == 2 ? kEntrySizeV2 : kEntrySizeV1;
}

// Where the directory starts: after the header, the info block and the book name.
inline std::uint64_t directory_offset(const ImpHeader& header) {
  return std::uint64_t{kHeaderSize} + header.info_length + header.name_length;
}

// Where the data region starts: after the directory's resource_count entries.
inline std::uint64_t data_offset(const ImpHeader& header) {
  return directory_offset(header) +
         std::uint64_t{header.resource_count} * entry_size(header.version);
}

// Reads and checks the header at the start of `book`: length, then signature, then version.
// Leaves the stream at offset 24 and every number in host order; ends the run on failure.
void read_header(std::FILE* book, ImpHeader& header);

// Reads one entry at the stream's position in the layout of the header's version; ends the run
// when the entry comes short.
void read_entry(std::FILE* book, const ImpHeader& header, ImpEntry& entry);

// Book bytes as a message shows them: printable ASCII as it stands, every other byte (and the
// backslash) as \xNN, so that a book cannot drive the terminal.
std::string escaped(const unsigned char* bytes, std::size_t size);
