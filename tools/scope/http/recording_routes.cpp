#include "http/recording_routes.h"

#include <cmath>
#include <fstream>
#include <memory>

#include "recording_options.h"

namespace rk350::scope {

using nlohmann::json;

json RecordingToJson(const ScopeRecording& recording) {
  const RecordingState state = recording.State();
  json files = json::array();
  for (const auto& file : recording.Files())
    files.push_back({{"name", file.name}, {"bytes", file.bytes}, {"modified", file.modified}});
  const auto orNull = [](auto value) { return value > 0 ? json(value) : json(nullptr); };
  return {{"available", state.available},
          {"active", state.active},
          {"name", state.name.empty() ? json(nullptr) : json(state.name)},
          {"records", state.recorder.written},
          {"bytes", state.recorder.bytes},
          {"lost", state.recorder.lost},
          {"finished", state.finished},
          {"seconds", state.seconds},
          {"limits",
           {{"count", orNull(state.limits.count)},
            {"duration", orNull(state.limits.seconds)},
            {"maxSize", orNull(state.limits.maxBytes)}}},
          {"ended", state.ended.empty() ? json(nullptr) : json(state.ended)},
          {"failed", state.failed},
          {"files", files}};
}

std::optional<RecordingRequest> RecordingRequestFromJson(const json& body, std::string& error) {
  if (!body.is_object() || !body.contains("name") || !body["name"].is_string()) {
    error = "recording: expected {\"name\": \"file.h5\"} with optional count, duration and maxSize";
    return std::nullopt;
  }
  RecordingRequest request;
  request.name = body["name"].get<std::string>();
  for (const auto& [key, value] : body.items()) {
    if (key == "name" || value.is_null()) continue;
    if (key == "count") {
      if (!value.is_number_integer() || value.get<std::int64_t>() < 0) {
        error = "recording: count is a whole number of records (0: no limit)";
        return std::nullopt;
      }
      request.count = value.get<std::uint64_t>();
    } else if (key == "duration") {
      // Seconds as a number, or the capture tool's form ("90s", "10min").
      const auto seconds = value.is_number()   ? std::optional(value.get<double>())
                           : value.is_string() ? capture::ParseDuration(value.get<std::string>())
                                               : std::nullopt;
      if (!seconds || !std::isfinite(*seconds) || *seconds < 0) {
        error = "recording: duration is seconds, or a time such as \"90s\" or \"10min\"";
        return std::nullopt;
      }
      request.seconds = *seconds;
    } else if (key == "maxSize") {
      const auto bytes = value.is_number_integer() && value.get<std::int64_t>() >= 0
                             ? std::optional(value.get<std::uint64_t>())
                         : value.is_string() ? capture::ParseByteSize(value.get<std::string>())
                                             : std::nullopt;
      if (!bytes) {
        error = "recording: maxSize is bytes, or a size such as \"500M\" or \"2G\"";
        return std::nullopt;
      }
      request.maxBytes = *bytes;
    } else {
      error = "recording: no field " + key + " (name, count, duration, maxSize)";
      return std::nullopt;
    }
  }
  return request;
}

bool SendRecordingFile(const ScopeRecording& recording, const std::string& name, httplib::Response& res) {
  const auto path = recording.FinishedPath(name);
  if (!path) return false;
  auto file = std::make_shared<std::ifstream>(*path, std::ios::binary);
  file->seekg(0, std::ios::end);
  const auto size = static_cast<std::size_t>(std::max<std::streamoff>(0, file->tellg()));
  file->seekg(0);
  if (!*file) return false;
  res.set_header("Cache-Control", "no-store");
  res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");  // the name's form needs no quoting
  res.set_content_provider(size, "application/x-hdf5",
                           [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                             constexpr std::size_t kPart = 1 << 16;
                             char part[kPart];
                             file->seekg(static_cast<std::streamoff>(offset));
                             file->read(part, static_cast<std::streamsize>(std::min(length, kPart)));
                             const auto got = static_cast<std::size_t>(file->gcount());
                             return got > 0 && sink.write(part, got);
                           });
  return true;
}

}  // namespace rk350::scope
