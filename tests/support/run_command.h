// Runs a shell command for tests that check the project against outside
// tools (sigrok-cli).
#pragma once

#include <cstdio>
#include <string>

namespace rk350::testing {

// Returns false when the command could not be started; otherwise collects its
// standard output and its exit status (as pclose reports it).
inline bool RunCommand(const std::string& command, std::string& output, int& status) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  status = pclose(pipe);
  return true;
}

}  // namespace rk350::testing
