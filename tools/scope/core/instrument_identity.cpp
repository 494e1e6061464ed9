#include "core/instrument_identity.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "svg_plot.h"

namespace rk350::scope {
namespace {

struct InterfaceFacts {
  std::string name = "lo";
  std::string mask = "0.0.0.0";
  std::string mac = "00-00-00-00-00-00";
};

// The interface that holds the IPv4 address `host`: its name, mask and MAC.
InterfaceFacts FactsOf(const std::string& host) {
  InterfaceFacts facts;
  in_addr wanted{};
  if (::inet_pton(AF_INET, host.c_str(), &wanted) != 1) return facts;
  ifaddrs* all = nullptr;
  if (::getifaddrs(&all) != 0) return facts;
  for (ifaddrs* a = all; a != nullptr; a = a->ifa_next)
    if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr == wanted.s_addr) {
      facts.name = a->ifa_name;
      char text[INET_ADDRSTRLEN] = "0.0.0.0";
      if (a->ifa_netmask != nullptr)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_netmask)->sin_addr, text, sizeof text);
      facts.mask = text;
    }
  for (ifaddrs* a = all; a != nullptr; a = a->ifa_next)
    if (a->ifa_addr != nullptr && a->ifa_addr->sa_family == AF_PACKET && facts.name == a->ifa_name) {
      const auto* link = reinterpret_cast<sockaddr_ll*>(a->ifa_addr);
      if (link->sll_halen != 6) continue;
      char text[18];
      std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", link->sll_addr[0], link->sll_addr[1],
                    link->sll_addr[2], link->sll_addr[3], link->sll_addr[4], link->sll_addr[5]);
      facts.mac = text;
    }
  ::freeifaddrs(all);
  return facts;
}

}  // namespace

InstrumentIdentity IdentityOf(const InstrumentOffer& offer) {
  InstrumentIdentity id;
  id.model = offer.card.virtualCard ? "RK350 virtual card" : "RK350";
  id.serial = offer.serial ? std::to_string(*offer.serial) : "0";
  id.firmware = offer.libraryVersion.empty() ? "unknown" : offer.libraryVersion;
  return id;
}

std::string LxiIdentification(const InstrumentIdentity& identity, const std::string& host, int httpPort, int scpiPort,
                              bool vxi11) {
  const bool v6 = host.find(':') != std::string::npos;
  const std::string hostInUrl = v6 ? "[" + host + "]" : host;
  const std::string page = "http://" + hostInUrl + ":" + std::to_string(httpPort) + "/";
  char name[256] = "";
  ::gethostname(name, sizeof name - 1);
  const InterfaceFacts facts = FactsOf(host);
  std::string x;
  x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
       "xsi:schemaLocation=\"http://www.lxistandard.org/InstrumentIdentification/1.0 "
       "http://www.lxistandard.org/InstrumentIdentification/1.0/LXIIdentification.xsd\">\n";
  const auto element = [&](const char* tag, const std::string& value, const char* indent = "  ") {
    x += std::string(indent) + "<" + tag + ">" + capture::EscapeXml(value) + "</" + tag + ">\n";
  };
  element("Manufacturer", identity.manufacturer);
  element("Model", identity.model);
  element("SerialNumber", identity.serial);
  element("FirmwareRevision", identity.firmware);
  element("ManufacturerDescription", "RK350 two-channel 8-bit digitiser, live scope server");
  element("HomepageURL", page);
  element("DriverURL", page);
  element("UserDescription", std::string("RK350 scope on ") + name);
  element("IdentificationURL", page + "lxi/identification");
  x += std::string("  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" IPType=\"") +
       (v6 ? "IPv6" : "IPv4") + "\" InterfaceName=\"" + capture::EscapeXml(facts.name) + "\">\n";
  const char* in = "    ";
  if (vxi11) element("InstrumentAddressString", "TCPIP::" + host + "::INSTR", in);
  if (scpiPort > 0)
    element("InstrumentAddressString", "TCPIP::" + host + "::" + std::to_string(scpiPort) + "::SOCKET", in);
  element("Hostname", name, in);
  element("IPAddress", host, in);
  element("SubnetMask", facts.mask, in);
  element("MACAddress", facts.mac, in);
  element("Gateway", "0.0.0.0", in);  // not looked up: the scope does not route
  element("DHCPEnabled", "false", in);
  element("AutoIPEnabled", "false", in);
  x += "  </Interface>\n";
  element("LXIVersion", "1.5");
  x += "</LXIDevice>\n";
  return x;
}

}  // namespace rk350::scope
