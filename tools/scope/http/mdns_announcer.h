// Announces the scope on the local network over mDNS/DNS-SD through the
// Avahi daemon (Debian's libavahi-client): the page as _http._tcp and SCPI
// as _scpi-raw._tcp, the LXI identification as _lxi._tcp and VXI-11 (its
// portmapper, port 111) as _vxi-11._tcp, so `lxi discover --mdns` and VISA
// browsers find it.
#pragma once

#include <memory>
#include <string>

namespace rk350::scope {

class MdnsAnnouncer {
 public:
  MdnsAnnouncer();
  ~MdnsAnnouncer();  // withdraws the announcement
  MdnsAnnouncer(const MdnsAnnouncer&) = delete;
  MdnsAnnouncer& operator=(const MdnsAnnouncer&) = delete;

  // Starts announcing `name` (scpiPort 0: no raw socket; vxi11: VXI-11 is
  // found through a portmapper on port 111). False with the
  // reason when no Avahi daemon answers; the scope then runs unannounced.
  bool Start(const std::string& name, int httpPort, int scpiPort, bool vxi11, std::string& error);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace rk350::scope
