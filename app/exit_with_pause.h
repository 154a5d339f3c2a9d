// The one way a run ends on failure. Every procedure that finds a failure prints its message to
// standard error and ends the run here; none returns an error to its caller.
#pragma once

#include <cstdio>

// Ends the process with `status`. A non-zero status first prints "Press any key to continue..."
// and waits for one line on standard input (at most 18 characters are taken).
[[noreturn]] void exit_with_pause(int status);

// Prints `message` exactly as given and ends the run with -1.
[[noreturn]] inline void fail(const char* message) {
  std::fputs(message, stderr);
  exit_with_pause(-1);
}

// Reports the last error in the perror form ("prefix: system text\n") and ends the run with -1.
[[noreturn]] inline void fail_with_error(const char* prefix) {
  std::perror(prefix);
  exit_with_pause(-1);
}
