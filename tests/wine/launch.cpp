// launch.exe PROGRAM [ARGUMENT...]
// Starts PROGRAM with the command line "PROGRAM" ARGUMENT... (the program
// quoted, the arguments joined by one blank) and prints its whole 32-bit
// exit code: through "wine" itself an exit code arrives cut to 8 bits, so
// -1 would read 255.
#include <windows.h>

#include <cstdio>
#include <string>

#include "WinTestSupport.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: launch.exe PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  std::wstring command_line = L"\"" + std::wstring(argv[1]) + L"\"";
  for (int i = 2; i < argc; ++i) command_line += L" " + std::wstring(argv[i]);
  const tarvox::wintest::ProgramEnd end =
      tarvox::wintest::RunProgram(command_line, 120000);
  if (!end.ended) {
    std::puts("the program did not end within two minutes");
    return 1;
  }
  std::printf("exit code: %ld (0x%08lX)\n", static_cast<long>(end.exit_code),
              static_cast<unsigned long>(end.exit_code));
  return 0;
}
