// The recording over HTTP: its state and finished files as JSON, a start
// request read from JSON, and a finished file sent from the recording
// directory.
#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "core/scope_recording.h"

namespace rk350::scope {

// {"available", "active", "name", "records", "bytes", "lost", "finished", "seconds", "limits", "ended",
//  "failed", "files": [{"name", "bytes", "modified"}]}
nlohmann::json RecordingToJson(const ScopeRecording& recording);

// {"name": "run.h5", "count": N, "duration": s or "10min", "maxSize": bytes or "500M"}: the limits are
// optional; null where the request is not of that form (why in `error`).
std::optional<RecordingRequest> RecordingRequestFromJson(const nlohmann::json& body, std::string& error);

// The finished file `name` as an attachment, read in parts as the client takes it; false when there is none.
bool SendRecordingFile(const ScopeRecording& recording, const std::string& name, httplib::Response& res);

}  // namespace rk350::scope
