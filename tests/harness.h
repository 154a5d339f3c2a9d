// Unpacking books inside the test or fuzz process, through the real code and a termination
// routine that unwinds (tests/exit_seam.h), with the checks that matter beyond crashes: nothing is
// created outside the book's output directory, every output file holds bytes the book holds at
// that place, a finished run leaves every file it must, a book cut short ends with the message of
// the part it is cut in, and no file handle is left open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// A scratch directory, alone in a root of its own (in memory where it can be), so that anything
// created beside it is seen. The book file lives in it, as "book.imp". A run's messages go to
// an unnamed file, not to standard error.
struct Scratch {
  std::string root;
  std::string directory;
  std::string book;
  std::FILE* messages;
};

Scratch make_scratch();
void remove_scratch(const Scratch& scratch);

struct InProcessRun {
  bool ended;           // the run ended through the termination routine (a refused book)
  std::string broken;   // the property the run broke, "" when it kept them all
  std::string message;  // what the run printed on standard error
};

// Unpacks the book file of `scratch`, whose bytes are `data`, from the scratch directory, checks
// what it left against those bytes, and removes the output again. The working directory is the
// scratch directory afterwards.
InProcessRun unpack_and_check(const Scratch& scratch, const std::uint8_t* data, std::size_t size);
