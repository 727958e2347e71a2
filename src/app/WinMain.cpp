// The Windows entry point: a GUI-subsystem program with no window, so no
// console appears when an installer starts it.
#include <windows.h>

#include "app/RepairApp.h"
#include "platform/win32/Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  tarvox::Win32Platform os;
  return tarvox::RepairApp(os).Run();
}
