#include "app/exit_with_pause.h"

#include <cstdlib>

#include "platform/platform.h"

void exit_with_pause(int status) {
  if (status != 0) {
    std::fputs("Press any key to continue...\n", stderr);
    // The wait is for a whole line, of which up to 18 characters are taken. A terminal in line
    // mode hands over the typed line whole, and all of it is read, so that none of it reaches the
    // shell after the run (a line typed ahead of it stays). Elsewhere the read ends after a line
    // end, at end of input or after the 18th byte, and the rest stays unread for the next
    // program: bytes are read one by one there, never into a buffer. A terminal that hands over
    // each key sends Enter as a carriage return, which ends the line there too.
    const Input input = standard_input();
    if (input == Input::lines) {
      char line[256];
      for (std::size_t got; (got = read_input(line, sizeof line)) > 0 && line[got - 1] != '\n';) {
      }
    } else {
      char byte = '\0';
      for (int taken = 0; taken < 18 && read_input(&byte, 1) == 1; ++taken) {
        if (byte == '\n' || (byte == '\r' && input == Input::keys)) break;
      }
    }
  }
  std::exit(status);
}
