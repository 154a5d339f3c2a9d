#include "tests/oracle.h"

#include <algorithm>
#include <cstdint>

using namespace layout;

namespace {

// The bytes up to the first zero byte, at most `size` of them.
std::string up_to_zero(const char* bytes, std::size_t size) {
  return std::string(bytes, std::find(bytes, bytes + size, '\0'));
}

std::uint32_t be(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

bool is_posix_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

ExpectedOutput expected_output(const std::string& book) {
  ExpectedOutput expected;
  const auto cut = [&](const char* message) {  // the book ends short here
    expected.message = message;
    return expected;
  };
  const std::size_t size = book.size();
  if (size < kHeaderSize) return cut(kHeaderCut);
  const std::uint32_t version = be(book, 0, 2), count = be(book, kCountAt, 2),
                      name_length = be(book, kNameLengthAt, 2),
                      info_length = be(book, kInfoLengthAt, 2);
  if (book.compare(kSignatureAt, 8, kSignature) != 0 || (version != 1 && version != 2)) {
    return expected;
  }
  if (size < kHeaderSize + info_length + name_length) return cut(kHeadCut);
  const std::string name = up_to_zero(book.data() + kHeaderSize + info_length, name_length);
  // Past a name the system refuses (longer than NAME_MAX), the output is the system's matter.
  if (!is_posix_name(name) || name.size() > 255) return expected;
  expected.directory = name;
  expected.info = kInfoFilePrefix + book.substr(kInfoLengthAt, 2 + info_length);
  const std::size_t entry = entry_size(static_cast<std::uint16_t>(version));
  const std::size_t size_at = version == 2 ? kSizeAtV2 : kSizeAtV1;
  std::uint64_t at = std::uint64_t{kHeaderSize} + info_length + name_length + count * entry;
  if (size < at) return cut(kEntryCut);  // the directory is read whole first
  for (std::size_t i = 0; i < count; ++i) {
    if (at + entry > size) return cut(kEntryCut);
    const std::uint32_t length = be(book, at + size_at, 4);
    const std::string file = book.compare(at, kTypeSize, kBlankType) == 0
                                 ? kBlankTypeFileName
                                 : up_to_zero(book.data() + at, kTypeSize);
    at += entry;
    if (!is_posix_name(file)) break;
    if (length > size - at) return cut(kDataCut);
    expected.files.emplace(file, book.substr(at, length));
    expected.last[file] = book.substr(at, length);
    at += length;
  }
  return expected;
}

std::string expected_info_file(const TestBook& book) {
  return *expected_output(make_book(book)).info;
}
