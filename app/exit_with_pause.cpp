#include "app/exit_with_pause.h"

#include <cstdlib>

#include "platform/platform.h"

void exit_with_pause(int status) {
  if (status != 0) {
    std::fputs("Press any key to continue...\n", stderr);
    // The wait is for a whole line: up to 18 characters are taken, the read ends after a line
    // end or at end of input, and the rest of a longer line, and whatever follows it, stays
    // unread for the next program (bytes are read one by one, never into a buffer).
    char byte = '\0';
    for (int taken = 0; taken < 18 && byte != '\n' && read_input_byte(byte); ++taken) {
    }
  }
  std::exit(status);
}
