// impx: unpacks each book file named on the command line into a new directory beside it.
#include <cstdio>
#include <string>

#include "app/exit_with_pause.h"
#include "platform/platform.h"
#include "unpack/unpack.h"

int main(int argc, char** argv) {
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  if (argc < 2) {
    std::fprintf(stderr, "Usage: %s <impfile1>...<impfilen>\n", argc > 0 ? argv[0] : "impx");
    exit_with_pause(-1);
  }
  // Every path is taken relative to the directory the run starts in; each book leaves the
  // working directory inside its output directory, so it is set back before the next one.
  const std::string start = argc > 2 ? current_directory() : std::string();
  if (argc > 2 && start.empty()) fail_with_error("getcwd");
  for (int i = 1; i < argc; ++i) {
    if (i > 1 && !change_directory(start.c_str())) fail_with_error("chdir");
    std::FILE* book = std::fopen(argv[i], "rb");
    if (book == nullptr) fail_with_error("fopen");
    // If the book's directory cannot be entered, its output goes to the starting directory.
    const std::string directory = directory_part(argv[i]);
    if (!directory.empty()) change_directory(directory.c_str());
    unpack_book(book);
  }
  return 0;
}
