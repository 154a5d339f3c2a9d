#include "tests/exit_seam.h"
#include "app/exit_with_pause.h"

void exit_with_pause(int status) {
  throw RunEnded{status};
}
