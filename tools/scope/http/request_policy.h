// Who may drive the scope: a page this server served, a script on this
// machine, or (with --allow-remote) whoever shows the token it printed.
// Another website open in the same browser must not: its requests name a
// foreign Origin, or carry a body type a page may send without asking
// (text/plain, forms), or (DNS rebinding) a Host that is not this server.
// Pure: the server hands in the request's headers, the tests and the fuzzer
// call it directly.
#pragma once

#include <optional>
#include <string>

namespace rk350::scope {

struct RequestFacts {
  std::string method;
  std::string host;         // Host header; empty when absent
  std::string origin;       // Origin header; empty when absent
  std::string contentType;  // Content-Type header
  std::string token;        // X-RK350-Token header
  std::string cookie;       // Cookie header
  std::string queryToken;   // ?token= of the address (a page opened from the printed address)
};

struct AccessPolicy {
  std::string address;  // the listening address
  int port = 0;
  std::string token;  // required when not empty (--allow-remote)
};

struct PolicyRefusal {
  int status;
  std::string error;
};

// Nothing when the request may proceed.
std::optional<PolicyRefusal> JudgeRequest(const AccessPolicy& policy, const RequestFacts& request);

// A fresh random token for --allow-remote.
std::string NewAccessToken();

constexpr const char* kTokenHeader = "X-RK350-Token";
constexpr const char* kTokenCookie = "rk350_token";

}  // namespace rk350::scope
