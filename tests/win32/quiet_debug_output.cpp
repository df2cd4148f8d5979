// GoogleTest copies every failure message to OutputDebugStringA, which raises
// and catches a structured exception. Where the 32-bit Wine runs under qemu's
// user-mode emulator, that exception dispatch kills the process, so one failed
// assertion would hide every later result. No debugger listens here: binding
// the program's import of OutputDebugStringA to a no-op loses nothing.
#include <windows.h>

namespace
{
void WINAPI discardDebugString(LPCSTR) {}
} // namespace

extern "C" {
void(WINAPI *importOutputDebugStringA)(LPCSTR) __asm__("__imp__OutputDebugStringA@4") = discardDebugString;
}
