// 32-bit Windows: the C and C++ runtimes linked into the DLL (libgcc's locks,
// the MinGW C runtime's rand_s and locale helpers) call three wide-character
// functions that Windows 95, 98 and ME export only as stubs that fail:
// CreateSemaphoreW, LoadLibraryW and GetModuleHandleW. Their import slots are
// defined here, pointing at functions that call the ANSI versions, which
// every Win32 system has; the linker then imports the wide versions no more.
// The names these runtimes pass are plain ASCII (DLL names) or null.
#if defined(_WIN32) && !defined(_WIN64)
#include <windows.h>

namespace {

// A wide name as the ANSI code page spells it; false when it does not fit.
bool ToAnsi(LPCWSTR wide, char (&ansi)[MAX_PATH]) {
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, MAX_PATH, nullptr, nullptr) != 0) return true;
  SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return false;
}

HANDLE WINAPI AnsiCreateSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
  if (name == nullptr) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
  char ansi[MAX_PATH];
  return ToAnsi(name, ansi) ? CreateSemaphoreA(attributes, initial, maximum, ansi) : nullptr;
}

HMODULE WINAPI AnsiLoadLibrary(LPCWSTR name) {
  if (name == nullptr) return LoadLibraryA(nullptr);
  char ansi[MAX_PATH];
  return ToAnsi(name, ansi) ? LoadLibraryA(ansi) : nullptr;
}

HMODULE WINAPI AnsiGetModuleHandle(LPCWSTR name) {
  if (name == nullptr) return GetModuleHandleA(nullptr);
  char ansi[MAX_PATH];
  return ToAnsi(name, ansi) ? GetModuleHandleA(ansi) : nullptr;
}

}  // namespace

// The import slots the runtimes' objects refer to (__imp__Name@argument-bytes).
extern "C" {
void* gCreateSemaphoreW __asm__("__imp__CreateSemaphoreW@16") = reinterpret_cast<void*>(&AnsiCreateSemaphore);
void* gLoadLibraryW __asm__("__imp__LoadLibraryW@4") = reinterpret_cast<void*>(&AnsiLoadLibrary);
void* gGetModuleHandleW __asm__("__imp__GetModuleHandleW@4") = reinterpret_cast<void*>(&AnsiGetModuleHandle);
}
#endif
