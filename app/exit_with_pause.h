// The one way a run ends on failure. Every procedure that finds a failure prints its message to
// standard error and ends the run here; none returns an error to its caller.
#pragma once

#include <cstdarg>
#include <cstdio>

// Ends the process with `status`. A non-zero status first prints "Press any key to continue..."
// and waits for one line on standard input: a terminal's typed line whole, elsewhere at most 18
// characters.
[[noreturn]] void exit_with_pause(int status);

// Prints the message that `format` and its arguments make, as printf would, and ends the run
// with -1. (The compiler checks the arguments against the format where it can.)
#if defined(__GNUC__)
#define IMPX_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define IMPX_PRINTF_LIKE
#endif
[[noreturn]] IMPX_PRINTF_LIKE inline void fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  exit_with_pause(-1);
}

// Ends the run for memory that cannot be had, however the system reports it: an allocation that
// fails (main makes this the new handler), or a call's error.
[[noreturn]] inline void fail_out_of_memory() {
  fail("Out of memory\n");
}

// Reports the last error in the perror form ("prefix: system text\n") and ends the run with -1.
[[noreturn]] inline void fail_with_error(const char* prefix) {
  std::perror(prefix);
  exit_with_pause(-1);
}
