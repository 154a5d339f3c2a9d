/* Runs one command and prints its wall time, CPU time and peak resident memory:
 *   measure COMMAND [ARG...]   ->   "wall_s user_s sys_s maxrss_kib status"
 * A child keeps the peak of the process it was forked from across exec, so the programs under
 * test are started from this small launcher rather than from the benchmark driver. */
#define _GNU_SOURCE
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) < 0) return 2;
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%.6f %.6f %.6f %ld %d\n",
         (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9,
         (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6,
         (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss,
         WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}
