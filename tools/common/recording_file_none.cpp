// Builds without HDF5 (the Windows cross build) write no recordings.
#include "recording_file.h"

namespace rk350::recording {

struct RecordingFile::Handles {};

bool RecordingsSupported() { return false; }

RecordingFile::RecordingFile(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), h_(std::move(handles)) {}
RecordingFile::~RecordingFile() = default;

std::unique_ptr<RecordingFile> RecordingFile::Create(const std::string& path, const RecordingHeader&,
                                                     const RecordFrame&, std::string& error) {
  error = "cannot create " + path + ": this build writes no recordings (it was built without HDF5)";
  return nullptr;
}

bool RecordingFile::Fits(const RecordFrame&) const { return false; }
bool RecordingFile::Append(const RecordFrame&, std::string& error) {
  error = "no recordings in this build";
  return false;
}
bool RecordingFile::Shrink(std::uint64_t) { return false; }
bool RecordingFile::Close(std::uint64_t, const std::string&, std::string&) { return true; }
std::uint64_t RecordingFile::SizeOnDisk() const { return 0; }

}  // namespace rk350::recording
