// Who the instrument is, as *IDN? and the LXI identification page both say
// it: made once from the library's offer.
#pragma once

#include <string>

#include "core/instrument_state.h"

namespace rk350::scope {

struct InstrumentIdentity {
  std::string manufacturer = "RK350";
  std::string model;
  std::string serial;
  std::string firmware;  // the driver library's version
};

InstrumentIdentity IdentityOf(const InstrumentOffer& offer);

// The LXI identification document for a scope reached at `host` (an IPv4 or
// IPv6 address as the client used it): the page at `httpPort`, SCPI's raw
// socket at `scpiPort` (0: none), VXI-11 when `vxi11`. Network facts are the
// interface's that holds `host`.
std::string LxiIdentification(const InstrumentIdentity& identity, const std::string& host, int httpPort, int scpiPort,
                              bool vxi11);

}  // namespace rk350::scope
