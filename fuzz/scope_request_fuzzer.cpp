// libFuzzer harness for what the scope reads from the network: the JSON
// settings reader, the access policy's header checks, and the number and
// source parser every surface shares. Beyond the sanitizers' checks:
//   - settings accepted from a request hold only finite numbers and read back
//     as they are shown (a page that sends back what it was shown changes
//     nothing, and the settings in force can always be shown);
//   - a refusal names why;
//   - a number or source the parser accepts is finite.
//
// Input layout: the first byte picks the reader (settings JSON, request
// headers, number text), the rest is its text; for headers, fields are
// separated by newlines (method, Host, Origin, Content-Type, token, Cookie,
// query token).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/scope_settings_json.h"
#include "http/request_policy.h"
#include "options.h"

namespace {

using nlohmann::json;
using rk350::scope::ScopeSettings;

[[noreturn]] void Violation(const char* what, const std::string& detail) {
  std::fprintf(stderr, "\n==== oracle: %s: %s\n", what, detail.substr(0, 300).c_str());
  std::fflush(stderr);
  std::abort();
}

bool AllFinite(const json& j) {
  if (j.is_number_float()) return std::isfinite(j.get<double>());
  if (j.is_structured()) {
    for (const auto& item : j)
      if (!AllFinite(item)) return false;
  }
  return true;
}

void Settings(const std::string& text) {
  // As the server reads a request: nesting checked before parsing.
  if (rk350::scope::JsonNestingDepth(text) > rk350::scope::kMaxSettingsDepth) return;
  const json patch = json::parse(text, nullptr, false);
  if (patch.is_discarded()) return;
  static const rk350::capture::CardOffer offer = [] {
    rk350::capture::CardOffer virtualCard;
    virtualCard.virtualCard = true;
    return virtualCard;
  }();
  static const ScopeSettings base = rk350::scope::CompleteSettings(rk350::capture::CaptureOptions{}, true);
  std::string error;
  const auto read = rk350::scope::SettingsFromJson(patch, base, offer, error);
  if (!read) {
    if (error.empty()) Violation("settings", "refused without a reason: " + text);
    return;
  }
  const json shown = rk350::scope::SettingsToJson(*read);
  if (!AllFinite(shown)) Violation("settings", "accepted a number that is not finite: " + shown.dump());
  std::string again;
  const auto back = rk350::scope::SettingsFromJson(shown, *read, offer, again);
  if (!back) Violation("settings", "the settings shown do not read back: " + again);
  if (rk350::scope::SettingsToJson(*back) != shown) Violation("settings", "read back differently: " + shown.dump());
}

void Headers(const std::string& text) {
  std::vector<std::string> fields(7);
  std::size_t field = 0;
  for (char c : text) {
    if (c == '\n' && field + 1 < fields.size())
      ++field;
    else
      fields[field] += c;
  }
  const rk350::scope::RequestFacts facts{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6]};
  for (const auto& policy :
       {rk350::scope::AccessPolicy{"127.0.0.1", 8350, ""}, rk350::scope::AccessPolicy{"::1", 80, ""},
        rk350::scope::AccessPolicy{"0.0.0.0", 8350, "0123456789abcdef"}}) {
    const auto refusal = rk350::scope::JudgeRequest(policy, facts);
    if (refusal && (refusal->error.empty() || refusal->status < 400 || refusal->status > 499))
      Violation("policy", "a refusal without reason or with a status outside 4xx");
    // Without a token, only this machine's names pass: another origin never.
    if (!refusal && policy.token.empty() && !facts.origin.empty() && facts.origin.find("evil") != std::string::npos)
      Violation("policy", "a foreign origin passed: " + facts.origin);
  }
}

void Number(const std::string& text) {
  if (const auto value = rk350::capture::ParseQuantity(text); value && !std::isfinite(*value))
    Violation("number", "not finite: " + text);
  if (const auto source = rk350::capture::ParseSource(text)) {
    if (!std::isfinite(source->amplitude) || !std::isfinite(source->frequency) || !std::isfinite(source->offset))
      Violation("source", "not finite: " + text);
    // The form it is shown in reads back as the same source.
    const auto back = rk350::capture::ParseSource(rk350::capture::FormatSource(*source));
    if (!back || back->kind != source->kind || back->amplitude != source->amplitude ||
        back->frequency != source->frequency || back->offset != source->offset)
      Violation("source", "does not read back: " + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      Settings(text);
      break;
    case 1:
      Headers(text);
      break;
    default:
      Number(text);
      break;
  }
  return 0;
}
