// console_keys [on]: turns this Windows console's line input and echo off, so that the console
// hands over each key as it is typed, or with "on" back on. 125 where standard input is no console.
#include <windows.h>

int main(int argc, char**) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return 125;
  const DWORD line = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  return SetConsoleMode(input, argc > 1 ? mode | line : mode & ~line) ? 0 : 126;
}
