#include "recorder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/statvfs.h>
#endif

namespace rk350::recording {
namespace {

// Room kept free besides each record: the tables, HDF5's own structures and
// the closing notes.
constexpr std::uint64_t kMetadataMargin = 1u << 20;
// HDF5 allocates the codes a chunk at a time (about 64 KiB per channel).
constexpr std::uint64_t kChunkBytes = 65536;

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

std::string PartPath(const std::string& path, std::uint64_t part) {
  const std::filesystem::path p(path);
  char number[24];
  std::snprintf(number, sizeof number, "-%04llu", static_cast<unsigned long long>(part));
  const std::filesystem::path name = p.stem().string() + number + p.extension().string();
  return (p.parent_path() / name).string();
}

Room RoomFor(const std::string& directory, std::uint64_t fileSize) {
  Room room{std::numeric_limits<std::uint64_t>::max(), false};
#if !defined(_WIN32)
  struct statvfs disk {};
  if (statvfs(directory.empty() ? "." : directory.c_str(), &disk) == 0)
    room.bytes = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const std::uint64_t allowed = limit.rlim_cur > fileSize ? limit.rlim_cur - fileSize : 0;
    if (allowed < room.bytes) room = {allowed, true};
  }
#else
  (void)fileSize;  // Windows has no per-process file-size limit
  std::error_code ignored;
  const auto space = std::filesystem::space(directory.empty() ? "." : directory, ignored);
  if (!ignored) room.bytes = space.available;
#endif
  return room;
}

Recorder::Recorder(RecorderOptions options, RecordingHeader header)
    : options_(std::move(options)), header_(std::move(header)) {
  writer_ = std::thread([this] { Run(); });
}

Recorder::~Recorder() { Finish("ended"); }

bool Recorder::Offer(RecordFrame&& frame) {
  {
    std::lock_guard lock(mutex_);
    if (status_.stopped || finishing_) {
      ++status_.lost;  // finished by the library, kept nowhere
      return false;
    }
    const std::uint64_t bytes = frame.Bytes();
    if (!queue_.empty() && queuedBytes_ + bytes > options_.queueBytes) {
      ++status_.lost;
      return false;
    }
    queuedBytes_ += bytes;
    queue_.push_back(std::move(frame));
  }
  wake_.notify_one();
  return true;
}

RecorderStatus Recorder::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void Recorder::Stop(const std::string& reason, bool failed) {
  std::lock_guard lock(mutex_);
  if (status_.stopped) return;
  status_.stopped = true;
  status_.reason = reason;
  status_.failed = failed;
}

void Recorder::Run() {
  for (;;) {
    RecordFrame frame;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return finishing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      frame = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= frame.Bytes();
      if (status_.stopped) {  // after a failure or a limit nothing more is written
        ++status_.lost;
        continue;
      }
    }
    if (!WriteOne(frame)) {
      std::lock_guard lock(mutex_);
      ++status_.lost;
    }
  }
}

bool Recorder::OpenPart(const RecordFrame& shape) {
  std::uint64_t part = 0;
  {
    std::lock_guard lock(mutex_);
    part = ++status_.files;
  }
  const bool numbered = options_.splitBytes > 0 || options_.splitSeconds > 0 || part > 1;
  const std::string path = numbered ? PartPath(options_.path, part) : options_.path;
  std::string error;
  file_ = RecordingFile::Create(path, header_, shape, error);
  if (!file_) {
    Stop(error, true);
    return false;
  }
  partStart_ = shape.hostTime;
  std::lock_guard lock(mutex_);
  status_.currentPath = path;
  return true;
}

bool Recorder::ClosePart(const std::string& ending) {
  if (!file_) return true;
  std::string error;
  std::uint64_t lost = 0;
  {
    std::lock_guard lock(mutex_);
    lost = status_.lost;
  }
  const std::string path = file_->Path();
  std::uint64_t size = file_->SizeOnDisk();
  const bool ok = file_->Close(lost, ending, error);
  file_.reset();
  std::error_code unknown;  // the closing notes add to the size
  if (const auto closed = std::filesystem::file_size(path, unknown); !unknown) size = closed;
  closedBytes_ += size;
  if (!ok) Stop(error, true);
  return ok;
}

bool Recorder::WriteOne(const RecordFrame& frame) {
  // A new part: the first record, a record of another shape, or a split due.
  if (file_) {
    const bool splitBySize =
        options_.splitBytes > 0 && file_->Records() > 0 && file_->SizeOnDisk() + frame.Bytes() > options_.splitBytes;
    const bool splitByTime = options_.splitSeconds > 0 && frame.hostTime - partStart_ >= options_.splitSeconds;
    if (!file_->Fits(frame) || splitBySize || splitByTime) {
      if (!ClosePart(file_->Fits(frame) ? "split" : "the record's shape changed")) return false;
    }
  }
  if (!file_ && !OpenPart(frame)) return false;
  const std::uint64_t size = file_->SizeOnDisk();
  const std::uint64_t growth = std::max<std::uint64_t>(frame.Bytes(), kChunkBytes * frame.channels.size());
  if (options_.maxBytes > 0 && closedBytes_ + size + growth > options_.maxBytes) {
    Stop("the size limit of " + Megabytes(options_.maxBytes) + " is reached", false);
    return false;
  }
  const std::string directory = std::filesystem::path(file_->Path()).parent_path().string();
  const Room room = RoomFor(directory, size);
  if (room.bytes < growth + kMetadataMargin) {
    Stop(std::string(room.byLimit ? "the file-size limit (ulimit -f) is reached" : "the disk is full") + ": " +
             Megabytes(room.bytes) + " left for " + file_->Path() + ", a record needs " +
             Megabytes(growth + kMetadataMargin) + " with its margin",
         true);
    return false;
  }
  std::string error;
  if (!file_->Append(frame, error)) {
    Stop(error, true);
    return false;
  }
  std::lock_guard lock(mutex_);
  ++status_.written;
  status_.bytes = closedBytes_ + file_->SizeOnDisk();
  return true;
}

void Recorder::Finish(const std::string& ending) {
  {
    std::lock_guard lock(mutex_);
    if (finishing_ && !writer_.joinable()) return;
    finishing_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
  const RecorderStatus now = Status();
  ClosePart(now.stopped ? now.reason : ending);
  std::lock_guard lock(mutex_);
  status_.stopped = true;
  if (status_.reason.empty()) status_.reason = ending;
  status_.bytes = closedBytes_;
}

}  // namespace rk350::recording
