// Good books unpack whole, and every cut-short prefix ends in a refusal, never in success or a
// crash, leaving nothing but whole files whose bytes the book holds at that place. The books run
// in this process, through the real code, one book file cut shorter and shorter.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "tests/book_writer.h"
#include "tests/files.h"
#include "tests/harness.h"
#include "unpack/unpack.h"

namespace {

class InProcess : public testing::Test {
 protected:
  void TearDown() override { remove_scratch(scratch); }

  // Unpacks `book` whole, then cut to each of `lengths` (longest first).
  void expect_whole_and_cut(const TestBook& book, const std::vector<std::size_t>& lengths) {
    const std::string whole = make_book(book);
    write_file(scratch.book, whole);
    const auto* data = reinterpret_cast<const std::uint8_t*>(whole.data());
    const InProcessRun full = unpack_and_check(scratch, data, whole.size());
    ASSERT_FALSE(full.ended) << full.message;
    ASSERT_EQ(full.broken, "");
    for (const std::size_t length : lengths) {
      ASSERT_EQ(truncate(scratch.book.c_str(), static_cast<off_t>(length)), 0);
      const InProcessRun run = unpack_and_check(scratch, data, length);
      ASSERT_TRUE(run.ended) << "cut to " << length;
      ASSERT_EQ(run.broken, "") << "cut to " << length;  // its message names the part cut
    }
  }

  const Scratch scratch = make_scratch();
};

TEST_F(InProcess, EveryPrefixOfAGoodBookIsRefused) {
  // The third book's first record is larger than the copy buffer that its directory sizes; the
  // fourth ends with an empty resource, right at the end of the file.
  const TestResource large{"LARG", patterned_bytes(kDataBufferMin + 1000), 10};
  for (const TestBook& book :
       {sample_book(1), sample_book(2), book_named("Large", {large, {"    ", "fork"}}),
        book_named("Empty", {{"AAAA", "a"}, {"EMPT", ""}})}) {
    std::vector<std::size_t> prefixes;
    for (std::size_t length = make_book(book).size(); length-- > 0;) prefixes.push_back(length);
    expect_whole_and_cut(book, prefixes);
  }
}

// A resource past the size that the kernel copies: copied whole, refused when the book is cut
// anywhere in it or after it, and a write that fails is reported, not taken for success.
TEST_F(InProcess, LargeResourceIsCopiedWholeOrRefused) {
  const std::string big = patterned_bytes(kKernelCopyMin + 4097);
  const TestBook book = book_named("Large", {{"SMAL", "small"}, {"LARG", big}, {"LAST", "last"}});
  const std::string whole = make_book(book);
  const std::size_t large_data = whole.size() - 4 - layout::kEntrySizeV2 - big.size();
  expect_whole_and_cut(book,
                       {whole.size() - 1, large_data + big.size(), large_data + big.size() - 1,
                        large_data + kKernelCopyMin, large_data + 1});

  write_file(scratch.book, whole);
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit limit{kKernelCopyMin / 2, saved.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
  setrlimit(RLIMIT_FSIZE, &limit);
  const InProcessRun failed =
      unpack_and_check(scratch, reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(failed.ended);
  EXPECT_EQ(failed.message, "write: File too large\n");
}

}  // namespace
