// The scope's command line: where to serve, and the capture tool's options
// for the card and the settings it starts with.
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace rk350::scope {

struct ScopeOptions {
  std::string address = "127.0.0.1";
  int port = 8350;  // 0: any free port
  bool allowRemote = false;
  std::string webDirectory;  // empty: beside the program or in the source tree
  int scpiPort = 5025;       // SCPI over raw TCP; 0: any free port
  bool scpiPortGiven = false;
  bool scpi = true;          // --no-scpi turns it off
  double scpiIdle = 300;     // seconds a silent SCPI connection stays
  double scpiLockIdle = 60;  // seconds :SYSTem:LOCK outlasts its holder's silence
  int vxi11Port = 0;         // VXI-11's core channel; 0: any free port (the portmapper tells it)
  bool vxi11 = true;         // --no-vxi11 turns it off (also off without SCPI)
  bool announce = false;     // mDNS through Avahi
  // --record-dir: where recordings go; empty: none.
  std::string recordDirectory;
  std::size_t history = 0;  // records kept for stepping back (--history)
  capture::CaptureOptions capture;
};

struct ScopeParseResult {
  ScopeOptions options;
  std::string error;  // empty when the command line was understood
};

ScopeParseResult ParseScopeArguments(const std::vector<std::string>& arguments);
std::string ScopeHelpText();

// Whether a listening address reaches this machine only.
bool IsLoopback(const std::string& address);

}  // namespace rk350::scope
