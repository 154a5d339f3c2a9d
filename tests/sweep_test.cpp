// Every cut-short prefix of a good book ends in a refusal, never in success or a crash, and
// leaves nothing but whole files whose bytes the book holds at that place. The prefixes run in
// this process, through the real code, one book file cut shorter and shorter.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

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

class InProcess : public testing::Test {
 protected:
  void TearDown() override { remove_scratch(scratch); }
  const Scratch scratch = make_scratch();
};

TEST_F(InProcess, EveryPrefixOfAGoodBookIsRefused) {
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
      ASSERT_NE(run.message, "") << book.name << " cut to " << length;
    }
  }
}

// A resource past the size that the kernel copies: copied whole, refused when the book is cut
// anywhere in it or after it, and a write that fails is reported, not taken for success.
TEST_F(InProcess, LargeResourceIsCopiedWholeOrRefused) {
  std::string big(kKernelCopyMin + 4097, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + i / 7);
  const TestBook book = book_named("Large", {{"SMAL", "small"}, {"LARG", big}, {"LAST", "last"}});
  const std::string whole = make_book(book);
  const auto* data = reinterpret_cast<const std::uint8_t*>(whole.data());
  write_file(scratch.book, whole);
  const InProcessRun full = unpack_and_check(scratch, data, whole.size());
  EXPECT_FALSE(full.ended);
  EXPECT_EQ(full.broken, "");
  const std::size_t large_data = whole.size() - 4 - kEntrySizeV2 - big.size();
  for (std::size_t length : {whole.size() - 1, large_data + big.size(), large_data + big.size() - 1,
                             large_data + kKernelCopyMin, large_data + 1}) {
    ASSERT_EQ(truncate(scratch.book.c_str(), static_cast<off_t>(length)), 0);
    const InProcessRun run = unpack_and_check(scratch, data, length);
    EXPECT_TRUE(run.ended) << length;
    EXPECT_EQ(run.broken, "") << length;
  }

  write_file(scratch.book, whole);
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit limit{kKernelCopyMin / 2, saved.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  setrlimit(RLIMIT_FSIZE, &limit);
  const InProcessRun failed = unpack_and_check(scratch, data, whole.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(failed.ended);
  EXPECT_EQ(failed.message, "write: File too large\n");
}

}  // namespace
