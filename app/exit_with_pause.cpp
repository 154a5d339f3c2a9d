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
    // each key sends Enter as a carriage return, which ends the line there too. What the terminal
    // is, is asked again before each read: a run stopped in the background finds it as the
    // shell's line editor holds it, key by key, and once brought back to the foreground, in line
    // mode, the read it stopped in takes one key and the next one the rest of the line.
    char bytes[256];
    for (int taken = 0; taken < 18;) {
      const Input input = standard_input();
      const std::size_t got = read_input(bytes, input == Input::lines ? sizeof bytes : 1);
      if (got == 0) break;
      const char last = bytes[got - 1];
      if (last == '\n' || (last == '\r' && input == Input::keys)) break;
      if (input != Input::lines) ++taken;
    }
  }
  std::exit(status);
}
