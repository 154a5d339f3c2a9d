#include "bookfile/bookfile.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "app/exit_with_pause.h"

void read_header(std::FILE* book, ImpHeader& header) {
  unsigned char bytes[kHeaderSize];
  if (std::fread(bytes, 1, kHeaderSize, book) != kHeaderSize) {
    fail("Not an IMP file (couldn't read)\n");
  }
  std::memcpy(header.signature, bytes + kSignatureOffset, kSignatureSize);
  if (std::memcmp(header.signature, kSignature, kSignatureSize) != 0) {
    // Shown up to its first zero byte, escaped, and padded with a blank for each byte not shown.
    const auto* signature = reinterpret_cast<const unsigned char*>(header.signature);
    const std::size_t shown = static_cast<std::size_t>(
        std::find(signature, signature + kSignatureSize, '\0') - signature);
    fail("Not an IMP file (bad sig %s%s)\n", escaped(signature, shown).c_str(),
         std::string(kSignatureSize - shown, ' ').c_str());
  }
  header.version = load_be16(bytes);
  if (header.version != 1 && header.version != 2) {
    fail("Unknown IMP file version %u\n", static_cast<unsigned>(header.version));
  }
  std::memcpy(header.extra, bytes + kHeaderExtraOffset, sizeof header.extra);
  header.resource_count = load_be16(bytes + kResourceCountOffset);
  header.name_length = load_be16(bytes + kNameLengthOffset);
  header.info_length = load_be16(bytes + kInfoLengthOffset);
}

void read_entry(std::FILE* book, const ImpHeader& header, ImpEntry& entry) {
  unsigned char bytes[kEntrySizeV2];
  const std::size_t size = entry_size(header.version);
  if (std::fread(bytes, 1, size, book) != size) fail("Couldn't read directory entry");
  std::memcpy(entry.type, bytes, kTypeSize);
  if (header.version == 2) {
    entry.extra_a = load_be32(bytes + kV2ExtraAOffset);
    entry.size = load_be32(bytes + kV2SizeOffset);
    std::memcpy(entry.extra_raw, bytes + kV2ExtraRawOffset, sizeof entry.extra_raw);
    entry.extra_b = load_be32(bytes + kV2ExtraBOffset);
  } else {
    entry.extra_a = load_be16(bytes + kV1ExtraAOffset);
    entry.size = load_be32(bytes + kV1SizeOffset);
    std::memset(entry.extra_raw, 0, sizeof entry.extra_raw);
    entry.extra_b = 0;
  }
}

std::string escaped(const unsigned char* bytes, std::size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = bytes[i];
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 0xF];
    }
  }
  return text;
}
