#include "http/request_policy.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

namespace rk350::scope {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Compares in time that does not depend on where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i % (b.size() + 1)]);
  return differ == 0;
}

// The cookie's value in a Cookie header ("a=1; rk350_token=…").
std::string CookieValue(const std::string& header, const std::string& name) {
  std::size_t start = 0;
  while (start <= header.size()) {
    const auto end = std::min(header.find(';', start), header.size());
    const std::string pair = Trim(header.substr(start, end - start));
    if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
    start = end + 1;
  }
  return {};
}

// The Host values that name this server: its address or localhost, with its
// port (a browser leaves out port 80).
bool NamesThisServer(const AccessPolicy& policy, const std::string& host) {
  const bool v6 = policy.address.find(':') != std::string::npos;
  const std::string port = ":" + std::to_string(policy.port);
  for (const std::string& name : {v6 ? "[" + policy.address + "]" : policy.address, std::string("localhost")}) {
    const std::string lowered = Lower(host);
    if (lowered == Lower(name) + port) return true;
    if (policy.port == 80 && lowered == Lower(name)) return true;
  }
  return false;
}

bool IsWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::" || address.empty(); }

}  // namespace

std::optional<PolicyRefusal> JudgeRequest(const AccessPolicy& policy, const RequestFacts& request) {
  // Served beyond this machine, the token is the key; on loopback, the Host
  // must be this server, so a foreign name that resolves here (DNS
  // rebinding) reaches nothing.
  if (!policy.token.empty()) {
    const bool shown = SameSecret(request.token, policy.token) ||
                       SameSecret(CookieValue(request.cookie, kTokenCookie), policy.token) ||
                       SameSecret(request.queryToken, policy.token);
    if (!shown) return PolicyRefusal{401, "this scope asks for the token it printed at start"};
  }
  if (!(IsWildcard(policy.address) && !policy.token.empty()) && !NamesThisServer(policy, request.host))
    return PolicyRefusal{403, "Host '" + request.host + "' is not this server"};
  // A page's requests name its origin; only this server's own may pass.
  if (!request.origin.empty() && Lower(request.origin) != "http://" + Lower(request.host))
    return PolicyRefusal{403, "requests from " + request.origin + " are not accepted"};
  const bool changesState = request.method != "GET" && request.method != "HEAD";
  if (changesState) {
    const std::string type = Lower(Trim(request.contentType.substr(0, request.contentType.find(';'))));
    if (type != "application/json")
      return PolicyRefusal{415, "a request that changes settings is sent as application/json"};
  }
  return std::nullopt;
}

std::string NewAccessToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

}  // namespace rk350::scope
