// Windows loader entry of the module. Thread attach/detach notifications are
// of no use to a module without per-thread state, so they are switched off.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
