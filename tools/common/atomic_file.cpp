#include "atomic_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#define RK350_GETPID _getpid
#else
#include <fcntl.h>
#include <unistd.h>
#define RK350_GETPID getpid
#endif

namespace rk350::tools {

namespace fs = std::filesystem;

namespace {

// A name beside the target that no other writer uses: hidden, with the
// process id and a counter, so that a crash leaves an obvious stray.
fs::path TemporaryBeside(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    const std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(RK350_GETPID()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(stamp & 0xFFFF);
    fs::path candidate = target.parent_path() / name;
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate;
  }
}

// The temporaries a signal handler removes: names copied into fixed
// storage, a slot live while its state is kLive.
constexpr int kSlots = 32;
constexpr std::size_t kLongestName = 4096;
enum : int { kFree, kFilling, kLive };
struct TemporarySlot {
  std::atomic<int> state{kFree};
  char name[kLongestName];
};
TemporarySlot gTemporaries[kSlots];

int Remember(const fs::path& temporary) {
  const std::string name = temporary.string();
  if (name.size() >= kLongestName) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gTemporaries[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(gTemporaries[i].name, name.c_str(), name.size() + 1);
    gTemporaries[i].state = kLive;
    return i;
  }
  return -1;  // more at once than the table holds: such a one is not removed on a signal
}

void Forget(int slot) {
  if (slot >= 0) gTemporaries[slot].state = kFree;
}

// A symbolic link's final target (relative links resolve beside the link),
// so that the file it names is replaced and the link stays.
fs::path ThroughLinks(fs::path path) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path;
}

bool IsDeviceOrPipe(const fs::path& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  return !ec && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

// ": reason" from errno, when the failing call left one.
std::string Reason() { return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string(); }

// Asks the system to put the file's content on the disk before the rename
// makes it visible, so that a crash cannot leave a complete name over
// incomplete content.
bool SyncToDisk(const fs::path& path) {
#ifdef _WIN32
  (void)path;  // the rename below writes through
  return true;
#else
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
#endif
}

// Replaces the target in one step (an existing file under the name is
// either the old one or the new one, never neither). On failure `reason`
// is ": why".
bool Rename(const fs::path& from, const fs::path& to, std::string& reason) {
#ifdef _WIN32
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  reason = ": " + std::system_category().message(static_cast<int>(GetLastError()));
  return false;
#else
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  reason = ": " + ec.message();
  return false;
#endif
}

}  // namespace

AtomicFile::AtomicFile(const fs::path& target) : target_(ThroughLinks(target)) {
  inPlace_ = IsDeviceOrPipe(target_);
  temporary_ = inPlace_ ? target_ : TemporaryBeside(target_);
  if (!inPlace_) slot_ = Remember(temporary_);
}

AtomicFile::~AtomicFile() {
  if (done_ || inPlace_) return;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  Forget(slot_);
}

bool AtomicFile::Commit(std::string& error) {
  if (done_) return true;
  done_ = true;
  if (inPlace_) return true;
  errno = 0;
  if (!SyncToDisk(temporary_)) {
    error = "cannot write " + target_.string() + Reason();
  } else if (!Rename(temporary_, target_, error)) {
    error = "cannot write " + target_.string() + error;
  } else {
    Forget(slot_);
    return true;
  }
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  Forget(slot_);
  return false;
}

bool WriteContent(AtomicFile& file, const std::function<void(std::ostream&)>& write, std::string& error) {
  const std::string path = file.Target().string();
  errno = 0;
  std::ofstream out(file.TemporaryPath(), std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot create " + path + Reason();
    return false;
  }
  errno = 0;
  write(out);
  out.flush();
  out.close();
  if (!out) {
    error = "cannot write " + path + Reason();
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& error) {
  if (path.empty()) {
    error = "no file name given";
    return false;
  }
  AtomicFile file(path);
  return WriteContent(file, write, error) && file.Commit(error);
}

void RemoveTemporariesNow() noexcept {
  for (auto& slot : gTemporaries) {
    if (slot.state != kLive) continue;
#ifdef _WIN32
    std::remove(slot.name);
#else
    ::unlink(slot.name);
#endif
  }
}

}  // namespace rk350::tools
