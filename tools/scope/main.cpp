// rk350-scope: a live oscilloscope in the browser for an RK350 card (the
// virtual card by default).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "core/instrument_thread.h"
#include "core/scope_options.h"
#include "http/mdns_announcer.h"
#include "http/scope_server.h"
#include "library_api.h"
#include "scpi/scpi_server.h"
#include "vxi11/portmapper.h"
#include "vxi11/vxi11_server.h"

using namespace rk350;

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitLibrary = 2;
constexpr int kExitServer = 3;

std::atomic<bool> gStop{false};
extern "C" void OnStop(int) { gStop = true; }

// The page's files: --web, else installed beside the program, else the
// source tree this program was built from.
std::string WebDirectory(const scope::ScopeOptions& options) {
  if (!options.webDirectory.empty()) return options.webDirectory;
  const std::string installed = capture::ProgramDirectory() + "/" RK350_SCOPE_INSTALLED_WEB_DIR;
  if (std::filesystem::exists(installed + "/index.html")) return installed;
  return RK350_SCOPE_SOURCE_WEB_DIR;
}

}  // namespace

int main(int argc, char** argv) {
  const auto parsed = scope::ParseScopeArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "rk350-scope: %s\n", parsed.error.c_str());
    return kExitUsage;
  }
  const auto& options = parsed.options;
  if (options.capture.help) {
    std::fputs(scope::ScopeHelpText().c_str(), stdout);
    return 0;
  }
  const std::string web = WebDirectory(options);
  if (!std::filesystem::exists(web + "/index.html")) {
    std::fprintf(stderr, "rk350-scope: no page in %s (give --web DIR)\n", web.c_str());
    return kExitUsage;
  }
  std::string errors;
  const auto library = capture::LoadFlavour(options.capture.hardware, options.capture.library, errors);
  if (!library) {
    std::fprintf(stderr, "rk350-scope: cannot load the %s library\n%s",
                 options.capture.hardware ? "hardware" : "virtual-card", errors.c_str());
    return kExitLibrary;
  }
  if (options.capture.version) {
    std::printf("rk350-scope, library %s (%s)\n", library->Api().RK350_Version(), library->File().c_str());
    return 0;
  }
  if (!scope::IsLoopback(options.address))
    std::fprintf(stderr,
                 "rk350-scope: warning: serving on %s, not loopback: whoever learns the token can drive the card, "
                 "and plain HTTP shows it to anyone on the path\n",
                 options.address.c_str());

  // Recordings go into the one directory given, or nowhere.
  if (!options.recordDirectory.empty()) {
    std::error_code failed;
    std::filesystem::create_directories(options.recordDirectory, failed);
    if (!std::filesystem::is_directory(options.recordDirectory)) {
      std::fprintf(stderr, "rk350-scope: --record-dir %s is no directory%s%s\n", options.recordDirectory.c_str(),
                   failed ? ": " : "", failed ? failed.message().c_str() : "");
      return kExitUsage;
    }
    // Past the file-size limit a write fails (and ends the recording) instead of the scope.
    std::signal(SIGXFSZ, SIG_IGN);
  }
  scope::ScopeRecording recording(options.recordDirectory);
  scope::InstrumentThread instrument(
      *library, {.hardware = options.capture.hardware, .address = options.capture.address}, options.capture.settings);
  instrument.SetRecording(&recording);
  instrument.KeepRecords(options.history);
  std::string error;
  if (!instrument.Start(error)) {
    std::fprintf(stderr, "rk350-scope: %s\n", error.c_str());
    return kExitLibrary;
  }
  // Beyond this machine, a token printed here is the key (as a header, a
  // cookie, or in the address the page is opened with).
  const std::string token = options.allowRemote ? scope::NewAccessToken() : std::string();
  scope::ScopeServer server(instrument, web, token);
  const int port = server.Bind(options.address, options.port);
  if (port < 0) {
    std::fprintf(stderr, "rk350-scope: cannot listen on %s port %d\n", options.address.c_str(), options.port);
    return kExitServer;
  }
  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  const bool v6 = options.address.find(':') != std::string::npos;
  std::printf("rk350-scope: serving http://%s%s%s:%d/%s%s\n", v6 ? "[" : "", options.address.c_str(), v6 ? "]" : "",
              port, token.empty() ? "" : "?token=", token.c_str());
  std::fflush(stdout);
  // SCPI beside the page, through the same instrument thread. The default
  // port taken by another program costs SCPI only; a port asked for must work.
  std::unique_ptr<scpi::ScpiServer> scpiServer;
  std::thread scpiServing;
  int scpiPort = -1;
  if (options.scpi) {
    scpi::ServerLimits limits;
    limits.idle = std::chrono::milliseconds(static_cast<long long>(options.scpiIdle * 1000));
    limits.evictIdle = std::min(limits.evictIdle, limits.idle);
    limits.lockIdle = std::chrono::milliseconds(static_cast<long long>(options.scpiLockIdle * 1000));
    scpiServer = std::make_unique<scpi::ScpiServer>(instrument, token, limits);
    std::string reason;
    scpiPort = scpiServer->Bind(options.address, options.scpiPort, reason);
    if (scpiPort < 0 && options.scpiPortGiven) {
      std::fprintf(stderr, "rk350-scope: cannot serve SCPI on %s port %d: %s\n", options.address.c_str(),
                   options.scpiPort, reason.c_str());
      return kExitServer;
    }
    if (scpiPort < 0) {
      std::fprintf(stderr, "rk350-scope: warning: no SCPI: port %d: %s (give --scpi-port N or --no-scpi)\n",
                   options.scpiPort, reason.c_str());
      scpiServer.reset();
    } else {
      std::printf("rk350-scope: serving SCPI on %s%s%s:%d\n", v6 ? "[" : "", options.address.c_str(), v6 ? "]" : "",
                  scpiPort);
      std::fflush(stdout);
      scpiServing = std::thread([&] { scpiServer->Serve(); });
    }
  }
  // VXI-11 beside the raw socket, its links sessions like the socket's.
  std::unique_ptr<vxi11::Vxi11Server> vxi11Server;
  vxi11::BuiltInPortmapper portmapper;
  bool findable = false;  // VXI-11 through a portmapper on port 111
  std::thread vxi11Serving;
  if (scpiServer && options.vxi11) {
    vxi11Server = std::make_unique<vxi11::Vxi11Server>(scpiServer->Shared(), scpiServer->Limits());
    std::string reason;
    if (!vxi11Server->Bind(options.address, options.vxi11Port, reason)) {
      std::fprintf(stderr, "rk350-scope: cannot serve VXI-11 on %s port %d: %s\n", options.address.c_str(),
                   options.vxi11Port, reason.c_str());
      return kExitServer;
    }
    const bool registered = vxi11Server->Register();
    // No portmapper runs: as root, the scope answers on port 111 itself.
    std::string portmapperError = "not root";
    const bool ownPortmapper = !registered && ::geteuid() == 0 &&
                               portmapper.Start(options.address, vxi11::kCoreProgram, vxi11::kVersion,
                                                vxi11Server->CorePort(), portmapperError);
    std::printf("rk350-scope: serving VXI-11 on %s%s%s:%d (%s%s)\n", v6 ? "[" : "", options.address.c_str(),
                v6 ? "]" : "", vxi11Server->CorePort(),
                registered      ? "registered with the portmapper"
                : ownPortmapper ? "no portmapper runs: answering on port 111 itself"
                                : "no portmapper runs, none of its own: ",
                registered || ownPortmapper ? "" : portmapperError.c_str());
    std::fflush(stdout);
    vxi11Serving = std::thread([&] { vxi11Server->Serve(); });
    findable = registered || ownPortmapper;
  }
  server.SetInstrumentPorts(scpiServer ? scpiPort : 0, vxi11Server != nullptr);
  // Found on the network where it can be: without a daemon the scope runs on, unannounced.
  scope::MdnsAnnouncer announcer;
  if (options.announce) {
    std::string reason;
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    if (!announcer.Start(std::string("RK350 scope on ") + host, port, scpiServer ? scpiPort : 0, findable, reason))
      std::fprintf(stderr, "rk350-scope: not announced over mDNS: %s\n", reason.c_str());
    else if (scope::IsLoopback(options.address))
      std::fprintf(stderr,
                   "rk350-scope: warning: announced over mDNS, but served on %s only: other machines "
                   "see it and cannot reach it (--listen, --allow-remote)\n",
                   options.address.c_str());
  }
  std::thread serving([&] { server.Serve(); });
  while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (vxi11Server) {
    portmapper.Stop();
    vxi11Server->Stop();
    vxi11Serving.join();
  }
  if (scpiServer) {
    scpiServer->Stop();
    scpiServing.join();
  }
  server.Stop();
  serving.join();
  instrument.Stop();
  recording.Stop("the scope stops");
  return 0;
}
