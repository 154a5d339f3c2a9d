#include "app/exit_with_pause.h"

#include <cstdlib>

#include "platform/platform.h"

void exit_with_pause(int status) {
  if (status != 0) {
    std::fputs("Press any key to continue...\n", stderr);
    // The wait is for a whole line, of which up to 18 characters are taken. A terminal hands
    // over the typed line whole, and all of it is read, so that none of it reaches the shell
    // after the run (a line typed ahead of it stays). From a pipe or a file the read ends after
    // a line end, at end of input or after the 18th byte, and the rest stays unread for the next
    // program: bytes are read one by one there, never into a buffer.
    if (input_is_terminal()) {
      char line[256];
      for (std::size_t got; (got = read_input(line, sizeof line)) > 0 && line[got - 1] != '\n';) {
      }
    } else {
      char byte = '\0';
      for (int taken = 0; taken < 18 && byte != '\n' && read_input(&byte, 1) == 1; ++taken) {
      }
    }
  }
  std::exit(status);
}
