// console_keys COMMAND...: runs COMMAND at this Windows console with line input and echo off, so
// that the console hands over each key as it is typed, then turns them on again. Its status is
// COMMAND's; 125 where standard input is no console, 126 where COMMAND cannot be started.
#include <windows.h>

int main() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return 125;
  wchar_t* command = GetCommandLineW();  // this program's name first, quoted or up to a blank
  const wchar_t end = *command == L'"' ? L'"' : L' ';
  for (command += end == L'"' ? 1 : 0; *command != L'\0' && *command != end; ++command) {
  }
  for (command += *command == L'"' ? 1 : 0; *command == L' '; ++command) {
  }
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  DWORD status = 126;
  if (CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
  }
  SetConsoleMode(input, mode);
  return static_cast<int>(status);
}
