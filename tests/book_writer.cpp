#include "tests/book_writer.h"

#include "unpack/unpack.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

void put_be16(std::string& out, std::uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

void put_be32(std::string& out, std::uint32_t value) {
  put_be16(out, static_cast<std::uint16_t>(value >> 16));
  put_be16(out, static_cast<std::uint16_t>(value & 0xFFFF));
}

namespace {

// A field of `size` bytes, which a test must give whole: a short one would shift every later field.
void put_field(std::string& out, const std::string& field, std::size_t size) {
  if (field.size() != size)
    throw std::invalid_argument("a field of " + std::to_string(size) + " bytes holds " +
                                std::to_string(field.size()));
  out += field;
}

void put_entry(std::string& out, std::uint16_t version, const TestResource& resource,
               std::uint32_t size) {
  put_field(out, resource.type, kTypeSize);
  if (version == 2) {
    put_be32(out, resource.extra_a);
    put_be32(out, size);
    put_field(out, resource.extra_raw, 4);
    put_be32(out, resource.extra_b);
  } else {
    put_be16(out, static_cast<std::uint16_t>(resource.extra_a));
    put_be32(out, size);
  }
}

std::uint32_t size_of(const TestResource& resource) {
  return static_cast<std::uint32_t>(resource.data.size());
}

}  // namespace

std::string make_book(const TestBook& book) {
  std::string out;
  put_be16(out, book.version);
  put_field(out, book.signature, kSignatureSize);
  put_field(out, book.extra, 8);
  put_be16(out, book.resource_count.value_or(static_cast<std::uint16_t>(book.resources.size())));
  put_be16(out, book.name_length.value_or(static_cast<std::uint16_t>(book.name.size())));
  put_be16(out, book.info_length.value_or(static_cast<std::uint16_t>(book.info.size())));
  out += book.info;
  out += book.name;
  for (const TestResource& resource : book.resources) {
    put_entry(out, book.version, resource, resource.directory_size.value_or(size_of(resource)));
  }
  for (const TestResource& resource : book.resources) {
    put_entry(out, book.version, resource, resource.record_size.value_or(size_of(resource)));
    out += resource.data;
  }
  return out;
}

TestBook book_named(const std::string& name, std::vector<TestResource> resources,
                    std::uint16_t version, const std::string& info) {
  TestBook book;
  book.version = version;
  book.name = name;
  book.info = info;
  book.resources = std::move(resources);
  return book;
}

ImpHeader header_of(const TestBook& book) {
  const std::string bytes = make_book(book);
  const auto* stored = reinterpret_cast<const unsigned char*>(bytes.data());
  ImpHeader header{};
  header.version = book.version;
  header.resource_count = load_be16(stored + kResourceCountOffset);
  header.name_length = load_be16(stored + kNameLengthOffset);
  header.info_length = load_be16(stored + kInfoLengthOffset);
  return header;
}

std::string expected_info_file(const TestBook& book) {
  return *expected_output(make_book(book)).info;
}

namespace {

// The bytes up to the first zero byte, at most `size` of them.
std::string up_to_zero(const char* bytes, std::size_t size) {
  return std::string(bytes, std::find(bytes, bytes + size, '\0'));
}

}  // namespace

ExpectedOutput expected_output(const std::string& book) {
  ExpectedOutput expected;
  const auto* data = reinterpret_cast<const unsigned char*>(book.data());
  const std::size_t size = book.size();
  if (size < kHeaderSize) {
    expected.message = "Not an IMP file (couldn't read)\n";
    return expected;
  }
  const ImpHeader header{load_be16(data),
                         {},
                         {},
                         load_be16(data + kResourceCountOffset),
                         load_be16(data + kNameLengthOffset),
                         load_be16(data + kInfoLengthOffset)};
  if (book.compare(kSignatureOffset, kSignatureSize, kSignature) != 0 ||
      (header.version != 1 && header.version != 2)) {
    return expected;
  }
  if (size < directory_offset(header)) {
    expected.message = "Not a complete IMP file (info block or name cut short)\n";
    return expected;
  }
  const std::string name =
      up_to_zero(book.data() + kHeaderSize + header.info_length, header.name_length);
  // Past a name the system refuses (longer than NAME_MAX), the output is the system's matter.
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.size() > 255) {
    return expected;
  }
  expected.directory = name;
  expected.info = std::string(reinterpret_cast<const char*>(kInfoFileFixedPrefix),
                              sizeof kInfoFileFixedPrefix) +
                  book.substr(kInfoLengthOffset, 2 + header.info_length);
  const std::size_t entry = entry_size(header.version);
  const std::size_t size_at = header.version == 2 ? kV2SizeOffset : kV1SizeOffset;
  const char* const entry_cut = "Couldn't read directory entry";
  std::uint64_t at = data_offset(header);
  if (size < at) expected.message = entry_cut;  // the directory is read whole first
  for (std::size_t i = 0; i < header.resource_count && size >= at; ++i) {
    if (at + entry > size) {
      expected.message = entry_cut;
      break;
    }
    const std::uint32_t length = load_be32(data + at + size_at);
    const std::string file = book.compare(at, kTypeSize, kBlankType) == 0
                                 ? kBlankTypeFileName
                                 : up_to_zero(book.data() + at, kTypeSize);
    at += entry;
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos) break;
    if (length > size - at) {
      expected.message = "Not a complete IMP file (resource data cut short)\n";
      break;
    }
    expected.files.emplace(file, book.substr(at, length));
    expected.last[file] = book.substr(at, length);
    at += length;
  }
  return expected;
}

TestBook sample_book(std::uint16_t version) {
  TestBook book;
  book.version = version;
  book.name = version == 2 ? "Sample" : "SampleV1";
  book.extra = "\x01\x02\x03\x04\x05\x06\x07\x08";
  for (int i = 0; i < 40; ++i) book.info += static_cast<char>('A' + i % 26);
  book.resources = {
      {"TEXT", "It was a dark and stormy night.\n", {}, {}, 7, "\x01\x02\x03\x04", 9},
      {"    ", std::string("fork\x00\xFF bytes", 11)},
      {"EMPT", ""},
      {"PICT", std::string(600, '\x5A')},
      {std::string("TE\0X", 4), "cut type"},
      {"TEXT", "the later TEXT wins\n"},
  };
  return book;
}

std::string patterned_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
  return bytes;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string make_temp_directory(const std::string& base) {
  const std::filesystem::path parent =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path made = parent / ("impx-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(made)) return made.string();  // false when it exists
  }
  throw std::runtime_error("cannot make a temporary directory in " + parent.string());
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}
