#include "core/scope_options.h"

#include <algorithm>

#include "core/record_history.h"

namespace rk350::scope {
namespace {

// An option of the scope's own: what it does to the options with its value
// (empty for a switch); why it is refused, else empty.
struct ScopeOption {
  const char* name;      // without the leading "--"
  const char* argument;  // empty for a switch
  const char* help;
  std::string (*apply)(ScopeOptions&, const std::string&);
};

template <int ScopeOptions::*Field>
std::string Port(ScopeOptions& o, const std::string& v) {
  const auto n = capture::ParseQuantity(v);
  if (!n || *n < 0 || *n > 65535 || *n != static_cast<int>(*n)) return "invalid port '" + v + "'";
  o.*Field = static_cast<int>(*n);
  return {};
}

template <double ScopeOptions::*Field>
std::string Seconds(ScopeOptions& o, const std::string& v) {
  const auto n = capture::ParseQuantity(v);
  if (!n || !(*n >= 1 && *n <= 86400)) return "give 1 to 86400 seconds, not '" + v + "'";
  o.*Field = *n;
  return {};
}

template <bool ScopeOptions::*Field, bool On>
std::string Switch(ScopeOptions& o, const std::string&) {
  o.*Field = On;
  return {};
}

constexpr ScopeOption kScopeOptions[] = {
    {"port", "N", "TCP port (default 8350; 0 takes a free one, the line on standard output says which)",
     Port<&ScopeOptions::port>},
    {"listen", "ADDR", "address to listen on (default 127.0.0.1)",
     [](ScopeOptions& o, const std::string& v) {
       if (v.empty()) return std::string("needs an address");
       o.address = v;
       return std::string();
     }},
    {"allow-remote", "",
     "allow an address that is not loopback; every request then needs the token the scope prints (the address it "
     "prints carries it; SCPI clients send it with :SYSTem:TOKen)",
     Switch<&ScopeOptions::allowRemote, true>},
    {"web", "DIR", "serve the page from DIR instead of the installed files",
     [](ScopeOptions& o, const std::string& v) {
       o.webDirectory = v;
       return std::string();
     }},
    {"scpi-port", "N",
     "SCPI over raw TCP on port N (default 5025; 0 takes a free one), on the address of --listen; see docs/scpi.md",
     [](ScopeOptions& o, const std::string& v) {
       o.scpiPortGiven = true;
       return Port<&ScopeOptions::scpiPort>(o, v);
     }},
    {"scpi-idle", "S", "close an SCPI connection that sends nothing for S seconds (default 300)",
     Seconds<&ScopeOptions::scpiIdle>},
    {"scpi-lock-idle", "S", ":SYSTem:LOCK lapses when its holder sends nothing for S seconds (default 60)",
     Seconds<&ScopeOptions::scpiLockIdle>},
    {"no-scpi", "", "serve no SCPI (neither raw TCP nor VXI-11)", Switch<&ScopeOptions::scpi, false>},
    {"vxi11-port", "N",
     "VXI-11's core channel on port N (default 0: a free one, registered with the system's rpcbind; see "
     "docs/scpi.md)",
     Port<&ScopeOptions::vxi11Port>},
    {"no-vxi11", "", "serve no VXI-11", Switch<&ScopeOptions::vxi11, false>},
    {"announce", "", "announce the page and SCPI over mDNS (needs a running Avahi daemon)",
     Switch<&ScopeOptions::announce, true>},
    {"record-dir", "DIR",
     "let the page, /api and SCPI record every record into files in DIR (made when missing); no recording without "
     "it (see docs/recording.md)",
     [](ScopeOptions& o, const std::string& v) {
       if (v.empty()) return std::string("--record-dir needs a directory");
       o.recordDirectory = v;
       return std::string();
     }},
    {"history", "N",
     "keep the last N records (0 to 1000, default 0) to step back through on the page, over /api and SCPI; long "
     "records keep fewer (256 MiB at most)",
     [](ScopeOptions& o, const std::string& v) {
       const auto n = capture::ParseQuantity(v);
       if (!n || !(*n >= 0 && *n <= static_cast<double>(kMaxKeptRecords)) || *n != static_cast<std::size_t>(*n))
         return "give 0 to " + std::to_string(kMaxKeptRecords) + " records, not '" + v + "'";
       o.history = static_cast<std::size_t>(*n);
       return std::string();
     }},
};

const ScopeOption* FindScopeOption(std::string_view name) {
  for (const auto& option : kScopeOptions)
    if (name == option.name) return &option;
  return nullptr;
}

}  // namespace

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
    const ScopeOption* option = name.rfind("--", 0) == 0 ? FindScopeOption(std::string_view(name).substr(2)) : nullptr;
    if (option == nullptr) {
      rest.push_back(arguments[i]);  // the capture tool's, or unknown: its parser says
      continue;
    }
    const bool takesValue = *option->argument != '\0';
    if (takesValue && !hasValue) {
      if (i + 1 >= arguments.size()) {
        result.error = "option '" + name + "' needs a value";
        return result;
      }
      value = arguments[++i];
    } else if (!takesValue && hasValue) {
      result.error = "option '" + name + "' takes no value";
      return result;
    }
    if (auto error = option->apply(o, value); !error.empty()) {
      result.error = name + ": " + error;
      return result;
    }
  }
  const auto parsed = capture::ParseArguments(rest, capture::Program::Scope);
  o.capture = parsed.options;
  result.error = parsed.error;
  if (result.error.empty()) o.capture.mode = capture::RunMode::Continuous;
  if (result.error.empty() && !IsLoopback(o.address) && !o.allowRemote)
    result.error = "--listen " + o.address +
                   ": not a loopback address; give --allow-remote to serve it there (the page's requests and SCPI "
                   "connections then need the token the scope prints)";
  return result;
}

std::string ScopeHelpText() {
  std::vector<capture::OptionHelp> options;
  for (const auto& option : kScopeOptions) options.push_back({"Server", option.name, option.argument, option.help});
  for (auto& option : capture::CaptureOptionHelp(capture::Program::Scope)) options.push_back(std::move(option));
  return "Usage: rk350-scope [OPTION]...\n"
         "A live oscilloscope in the browser: runs the RK350 card (the virtual card unless --hardware is given)\n"
         "continuously and serves its page, by default on http://127.0.0.1:8350/, and SCPI on TCP port 5025.\n"
         "The card's options give the starting settings; the page and SCPI change them afterwards.\n" +
         capture::FormatOptions(std::move(options));
}

bool IsLoopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

}  // namespace rk350::scope
