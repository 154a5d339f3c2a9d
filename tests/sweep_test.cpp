// Every cut-short prefix of a good book ends in a refusal, never in success or a crash, and
// leaves nothing but whole files whose bytes the book holds at that place. The prefixes run in
// this process, through the real code, one book file cut shorter and shorter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "tests/book_writer.h"
#include "tests/harness.h"
#include "unpack/unpack.h"

namespace {

// A book whose first resource is larger than the copy buffer that its directory sizes.
TestBook book_larger_than_its_buffer() {
  std::string big(kDataBufferMin + 1000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 7);
  TestResource large{"LARG", big};
  large.directory_size = 10;
  return book_named("Large", {large, {"    ", "fork"}});
}

TEST(CutShort, EveryPrefixOfAGoodBookIsRefused) {
  const Scratch scratch = make_scratch();
  // The messages are the process tests' matter; thousands of them would bury this test's own.
  const int saved_stderr = dup(2);
  std::freopen("/dev/null", "w", stderr);
  for (const TestBook& book : {sample_book(1), sample_book(2), book_larger_than_its_buffer()}) {
    const std::string whole = make_book(book);
    write_file(scratch.book, whole);
    const auto* data = reinterpret_cast<const std::uint8_t*>(whole.data());
    const InProcessRun full = unpack_and_check(scratch, data, whole.size());
    ASSERT_FALSE(full.ended) << book.name;
    ASSERT_EQ(full.broken, "") << book.name;
    for (std::size_t length = whole.size(); length-- > 0;) {
      ASSERT_EQ(truncate(scratch.book.c_str(), static_cast<off_t>(length)), 0);
      const InProcessRun run = unpack_and_check(scratch, data, length);
      ASSERT_TRUE(run.ended) << book.name << " cut to " << length;
      ASSERT_EQ(run.broken, "") << book.name << " cut to " << length;
    }
  }
  std::fflush(stderr);
  dup2(saved_stderr, 2);
  close(saved_stderr);
  remove_scratch(scratch);
}

}  // namespace
