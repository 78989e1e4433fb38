// Windows entry point (placeholder until the Win32 layer lands).
#include <windows.h>
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
