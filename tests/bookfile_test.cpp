#include "bookfile/bookfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tests/book_writer.h"
#include "tests/exit_seam.h"
#include "tests/oracle.h"

namespace {

BookStream stream_of(const std::string& bytes) {
  BookStream stream(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), stream.get());
  std::rewind(stream.get());
  return stream;
}

// A header whose fields each hold a value that shows a wrong byte order or a wrong offset.
std::string header_bytes(std::uint16_t version, const std::string& signature) {
  TestBook book = book_named("Novel", {}, version);
  book.signature = signature;
  book.extra = "\x01\x02\x03\x04\x05\x06\x07\x08";
  book.resource_count = 0x1234;
  book.name_length = 0xFFFE;
  book.info_length = 0x0102;
  return make_book(book).substr(0, layout::kHeaderSize);
}

// What `read` prints when it ends the run with -1, or "" when it returns.
template <typename Read>
std::string failure_of(Read read) {
  testing::internal::CaptureStderr();
  try {
    read();
  } catch (const RunEnded& ended) {
    EXPECT_EQ(ended.status, -1);
    return testing::internal::GetCapturedStderr();
  }
  testing::internal::GetCapturedStderr();
  return "";
}

// The checks in their order, length, then signature, then version, each with its message: the
// signature shown up to its first zero byte, escaped and padded to eight; the version big-endian.
// A header that passes fills every field in host order, and the book is read on from offset 24.
TEST(ReadHeader, ChecksLengthThenSignatureThenVersionThenFillsEveryField) {
  const std::string good = header_bytes(2, "BOOKVELT"), cut = kHeaderCut;
  const std::pair<std::string, std::string> headers[] = {
      {"", cut},
      {good.substr(0, 10), cut},
      {good.substr(0, 23), cut},
      {header_bytes(9, "BOOKVELX").substr(0, 23), cut},
      {header_bytes(9, "BOOKVELX"), "Not an IMP file (bad sig BOOKVELX)\n"},
      {header_bytes(2, "bookvelt"), "Not an IMP file (bad sig bookvelt)\n"},
      {header_bytes(2, "BOOK VE~"), "Not an IMP file (bad sig BOOK VE~)\n"},  // as they are
      {header_bytes(2, std::string("XYZ\0ABCD", 8)), "Not an IMP file (bad sig XYZ     )\n"},
      {header_bytes(2, std::string(8, '\0')), "Not an IMP file (bad sig         )\n"},
      {header_bytes(2, std::string("\033c\033[2J\\\0", 8)),
       "Not an IMP file (bad sig \\x1Bc\\x1B[2J\\x5C )\n"},
      {header_bytes(3, "BOOKVELT"), "Unknown IMP file version 3\n"},
      {header_bytes(0x0100, "BOOKVELT"), "Unknown IMP file version 256\n"},
      {header_bytes(0, "BOOKVELT"), "Unknown IMP file version 0\n"},
      {header_bytes(0xFFFF, "BOOKVELT"), "Unknown IMP file version 65535\n"},
      {header_bytes(1, "BOOKVELT"), ""},  // a file that ends right after a valid header passes
      {header_bytes(2, "BOOKVELT") + "after", ""},
  };
  for (const auto& [bytes, message] : headers) {
    BookStream book = stream_of(bytes);
    ImpHeader header;
    EXPECT_EQ(failure_of([&] { read_header(book.get(), header); }), message) << bytes;
    if (!message.empty()) continue;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header.extra), 8),
              "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(header.resource_count, 0x1234);
    EXPECT_EQ(header.name_length, 0xFFFE);
    EXPECT_EQ(header.info_length, 0x0102);
    EXPECT_EQ(std::ftell(book.get()), 24);
  }
}

// Each version's layout, field by field: version 1 widens its 16-bit number and clears what it
// lacks; version 2 keeps the raw bytes. An entry that comes short ends the run with a message that
// has no line end; 19 bytes are enough for version 1.
TEST(ReadEntry, ReadsEachVersionsLayoutOrEndsTheRun) {
  const struct {
    std::uint16_t version;
    std::string bytes, message, type;  // message: "" when the entry is read
    std::uint32_t extra_a, size;
    std::string extra_raw;
    std::uint32_t extra_b;
    long after;
  } entries[] = {
      {1, std::string("TEXT\x00\x07\x00\x00\x01\x00", 10), "", "TEXT", 7, 256, std::string(4, '\0'),
       0, 10},
      {2, std::string("PICT\x80\x00\x00\x01\xFF\xFF\xFF\xFE\xDE\xAD\xBE\xEF\x00\x00\x01\x02", 20),
       "", "PICT", 0x80000001u, 0xFFFFFFFEu, "\xDE\xAD\xBE\xEF", 0x102u, 20},
      {1, std::string(19, 'x'), "", "xxxx", 0x7878, 0x78787878, std::string(4, '\0'), 0, 10},
      {2, std::string(19, 'x'), kEntryCut},
      {1, std::string(9, 'x'), kEntryCut},
      {1, "", kEntryCut},
  };
  for (const auto& e : entries) {
    BookStream book = stream_of(e.bytes);
    const ImpHeader header{e.version};
    ImpEntry entry;
    std::memset(&entry, 0xFF, sizeof entry);
    EXPECT_EQ(failure_of([&] { read_entry(book.get(), header, entry); }), e.message) << e.bytes;
    if (!e.message.empty()) continue;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.type), 4), e.type);
    EXPECT_EQ(entry.extra_a, e.extra_a);
    EXPECT_EQ(entry.size, e.size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(entry.extra_raw), 4), e.extra_raw);
    EXPECT_EQ(entry.extra_b, e.extra_b);
    EXPECT_EQ(std::ftell(book.get()), e.after);
  }
}

}  // namespace
