// For code driven inside a test or fuzz process: the termination routine there throws RunEnded
// instead of ending the process, so the run unwinds back to its caller.
#pragma once

struct RunEnded {
  int status;
};
