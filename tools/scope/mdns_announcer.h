// Announces the scope on the local network over mDNS/DNS-SD through the
// Avahi daemon (Debian's libavahi-client): the page as _http._tcp and SCPI
// as _scpi-raw._tcp, so `lxi discover --mdns` and VISA browsers find it.
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

  // Starts announcing `name` (scpiPort 0: the page only). False with the
  // reason when no Avahi daemon answers; the scope then runs unannounced.
  bool Start(const std::string& name, int httpPort, int scpiPort, std::string& error);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace rk350::scope
