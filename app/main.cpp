// impx: unpacks each book file named on the command line into a new directory beside it.
#include <cstdio>
#include <new>
#include <string>

#include "app/exit_with_pause.h"
#include "platform/platform.h"
#include "unpack/unpack.h"

int IMPX_MAIN(int argc, PathChar** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  ignore_write_signals();
  // Every allocation that fails ends the run with the message, wherever it is made.
  std::set_new_handler(fail_out_of_memory);
  if (argc < 2) {
    const std::string program = argc > 0 ? console_text(argv[0]) : "impx";
    fail("Usage: %s <impfile1>...<impfilen>\n", program.c_str());
  }
  // Every path is taken relative to the directory the run starts in, which stays the working
  // directory: each book's output is made through the folder it was read from, held meanwhile.
  for (int i = 1; i < argc; ++i) {
    Directory folder;
    std::FILE* book = names_no_file(argv[i]) ? nullptr : open_book(argv[i], folder);
    if (book == nullptr) fail_with_error("fopen");
    unpack_book(book, folder);
  }
  return 0;
}
