#include "tests/book_writer.h"

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
  put_field(out, resource.type, layout::kTypeSize);
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

}  // namespace

std::string make_book(const TestBook& book) {
  std::string out;
  put_be16(out, book.version);
  put_field(out, book.signature, 8);
  put_field(out, book.extra, 8);
  put_be16(out, book.resource_count.value_or(static_cast<std::uint16_t>(book.resources.size())));
  put_be16(out, book.name_length.value_or(static_cast<std::uint16_t>(book.name.size())));
  put_be16(out, book.info_length.value_or(static_cast<std::uint16_t>(book.info.size())));
  out += book.info;
  out += book.name;
  for (const TestResource& resource : book.resources) {
    const auto size = static_cast<std::uint32_t>(resource.data.size());
    put_entry(out, book.version, resource, resource.directory_size.value_or(size));
  }
  for (const TestResource& resource : book.resources) {
    const auto size = static_cast<std::uint32_t>(resource.data.size());
    put_entry(out, book.version, resource, resource.record_size.value_or(size));
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

std::size_t data_offset_of(const TestBook& book) {
  return layout::kHeaderSize + book.info_length.value_or(book.info.size()) +
         book.name_length.value_or(book.name.size()) +
         book.resource_count.value_or(book.resources.size()) * layout::entry_size(book.version);
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
