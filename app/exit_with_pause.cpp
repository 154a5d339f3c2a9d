#include "app/exit_with_pause.h"

#include <cstdlib>

void exit_with_pause(int status) {
  if (status != 0) {
    std::fputs("Press any key to continue...\n", stderr);
    // The wait is for a whole line: fgets takes up to 18 characters, stops after a line end and
    // returns at end of input, leaving the rest of a longer line unread.
    char line[18 + 1];
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
      // End of input or a read error: either way the run ends now.
    }
  }
  std::exit(status);
}
