#include "scope_options.h"

#include "scope_server.h"

namespace rk350::scope {

ScopeParseResult ParseScopeArguments(const std::vector<std::string>& arguments) {
  ScopeParseResult result;
  auto& o = result.options;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool hasValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    const bool takesValue = name == "--port" || name == "--listen" || name == "--web" || name == "--scpi-port" ||
                            name == "--vxi11-port" || name == "--scpi-idle" || name == "--scpi-lock-idle";
    if (takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        result.error = "option '" + name + "' needs a value";
        return result;
      }
      value = arguments[++i];
    }
    if (name == "--port" || name == "--scpi-port" || name == "--vxi11-port") {
      const auto n = capture::ParseQuantity(value);
      if (!n || *n < 0 || *n > 65535 || *n != static_cast<int>(*n)) {
        result.error = name + ": invalid port '" + value + "'";
        return result;
      }
      (name == "--port" ? o.port : name == "--scpi-port" ? o.scpiPort : o.vxi11Port) = static_cast<int>(*n);
      if (name == "--scpi-port") o.scpiPortGiven = true;
    } else if (name == "--scpi-idle" || name == "--scpi-lock-idle") {
      const auto n = capture::ParseQuantity(value);
      if (!n || !(*n >= 1 && *n <= 86400)) {
        result.error = name + ": give 1 to 86400 seconds, not '" + value + "'";
        return result;
      }
      (name == "--scpi-idle" ? o.scpiIdle : o.scpiLockIdle) = *n;
    } else if (name == "--no-scpi") {
      o.scpi = false;
    } else if (name == "--no-vxi11") {
      o.vxi11 = false;
    } else if (name == "--announce") {
      o.announce = true;
    } else if (name == "--listen") {
      if (value.empty()) {
        result.error = "--listen needs an address";
        return result;
      }
      o.address = value;
    } else if (name == "--web") {
      o.webDirectory = value;
    } else if (name == "--allow-remote") {
      o.allowRemote = true;
    } else {
      rest.push_back(arguments[i]);
    }
  }
  const auto parsed = capture::ParseArguments(rest);
  o.capture = parsed.options;
  result.error = parsed.error;
  if (result.error.empty() && o.capture.mode == capture::RunMode::Block) o.capture.mode = capture::RunMode::Continuous;
  if (result.error.empty() && !IsLoopback(o.address) && !o.allowRemote)
    result.error = "--listen " + o.address +
                   ": not a loopback address; give --allow-remote to serve it there (the page's requests then need "
                   "the token the scope prints; SCPI has no access control)";
  return result;
}

std::string ScopeHelpText() {
  return "Usage: rk350-scope [OPTION]...\n"
         "A live oscilloscope in the browser: runs the RK350 card (the virtual card unless --hardware is given)\n"
         "continuously and serves its page, by default on http://127.0.0.1:8350/, and SCPI on TCP port 5025.\n"
         "\n"
         "Server:\n"
         "  --port N                  TCP port (default 8350; 0 takes a free one, the line on standard output says "
         "which)\n"
         "  --listen ADDR             address to listen on (default 127.0.0.1)\n"
         "  --allow-remote            allow an address that is not loopback; every request then needs the token the\n"
         "                            scope prints (the address it prints carries it)\n"
         "  --web DIR                 serve the page from DIR instead of the installed files\n"
         "  --scpi-port N             SCPI over raw TCP on port N (default 5025; 0 takes a free one), on the\n"
         "                            address of --listen; see docs/scpi.md\n"
         "  --scpi-idle S             close an SCPI connection that sends nothing for S seconds (default 300)\n"
         "  --scpi-lock-idle S        :SYSTem:LOCK lapses when its holder sends nothing for S seconds (default 60)\n"
         "  --no-scpi                 serve no SCPI (neither raw TCP nor VXI-11)\n"
         "  --vxi11-port N            VXI-11's core channel on port N (default 0: a free one, registered with\n"
         "                            the system's rpcbind; see docs/scpi.md)\n"
         "  --no-vxi11                serve no VXI-11\n"
         "  --announce                announce the page and SCPI over mDNS (needs a running Avahi daemon)\n"
         "\n"
         "Every option of rk350-capture that sets up the card or a measurement gives the starting settings\n"
         "(--hardware, --address, --library, --rate, --samples, --pre-trigger, --channels, --chN-range, --trigger,\n"
         "--gen, --average, --chN-source, ...; see rk350-capture --help); the page changes them afterwards.\n";
}

}  // namespace rk350::scope
