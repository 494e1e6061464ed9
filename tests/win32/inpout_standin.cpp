// A stand-in for the InpOut32 / InpOutx64 port driver DLL, for the InpOut
// example's test: its two byte-port exports serve a virtual card at 0x300
// with a 1 kHz sine of 1.5 V on CH1, so that the record shows where it came
// from. At unload it says how many calls it served.
#include <windows.h>

#include <cstdio>

#include "card/virtual_card.h"

namespace {

unsigned long gReads = 0;
unsigned long gWrites = 0;

rk350::card::VirtualCard& Card() {
  static rk350::card::VirtualCard card(0x300);
  static const bool wired = [] {
    rk350::card::SignalSource sine;
    sine.kind = rk350::card::SourceKind::kSine;
    sine.amplitude = 1.5;
    sine.frequency = 1000;
    card.Sources().Set(1, sine);
    return true;
  }();
  (void)wired;
  return card;
}

}  // namespace

extern "C" __declspec(dllexport) unsigned char __stdcall DlPortReadPortUchar(unsigned short port) {
  ++gReads;
  return Card().In(port);
}

extern "C" __declspec(dllexport) void __stdcall DlPortWritePortUchar(unsigned short port, unsigned char value) {
  ++gWrites;
  Card().Out(port, value);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    std::fprintf(stderr, "InpOut stand-in: %lu reads, %lu writes served by the card at 0x300\n", gReads, gWrites);
  }
  return TRUE;
}
