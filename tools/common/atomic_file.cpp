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
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#define RK350_GETPID getpid
#endif

namespace rk350::tools {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTemporaryMark = ".tmp-";

// The hidden name of a temporary of `target`: the process id and a counter
// make it this writer's own; the process id also tells a later run whether
// its writer still lives (RemoveStrays).
std::string TemporaryName(const fs::path& target, unsigned count, long long stamp) {
  return "." + target.filename().string() + kTemporaryMark + std::to_string(RK350_GETPID()) + "-" +
         std::to_string(count) + "-" + std::to_string(stamp & 0xFFFF);
}

// Creates `candidate`: a new file, never through a link someone placed
// under the name. False, with errno set, when it cannot (EEXIST: taken).
bool CreateNew(const fs::path& candidate) {
#ifdef _WIN32
  std::error_code ec;
  if (!fs::exists(candidate, ec)) return true;
  errno = EEXIST;
  return false;
#else
  const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
#endif
}

// Removes the temporaries of `target` that writers killed before they
// could (SIGKILL, a crash, power loss) left behind: those of this user
// whose process no longer runs.
void RemoveStrays(const fs::path& target) {
#ifndef _WIN32
  const std::string prefix = "." + target.filename().string() + kTemporaryMark;
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const char* digits = name.c_str() + prefix.size();
    char* after = nullptr;
    const long pid = std::strtol(digits, &after, 10);
    if (after == digits || *after != '-' || pid <= 0 || pid == RK350_GETPID()) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // its writer may still run
    ::unlink(it->path().c_str());
  }
#else
  (void)target;
#endif
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
constinit TemporarySlot gTemporaries[kSlots];  // zero in .bss: no start-up code touches its pages

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
// so that the file it names is replaced and the link stays. Only links of
// this user or of root are followed: one that another user planted (in a
// shared directory, say) would let that user choose what a privileged run
// replaces, so it is refused, as the kernel's protected_symlinks does.
fs::path ThroughLinks(fs::path path, std::string& refusal) {
  for (int hops = 0; hops < 40; ++hops) {
#ifdef _WIN32
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) return path;
#else
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (st.st_uid != ::geteuid() && st.st_uid != 0) {
      refusal = "is a symbolic link of another user; not followed";
      return path;
    }
    std::error_code ec;
#endif
    const fs::path next = fs::read_symlink(path, ec);
    if (ec) return path;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  refusal = "has too many levels of symbolic links";
  return path;
}

// The replaced file's permissions and owner go to its successor (a 0600
// file stays private, a user's file stays the user's when root rewrites it).
void KeepModeAndOwner(const fs::path& target, const fs::path& temporary) {
#ifndef _WIN32
  struct stat old {};
  if (::lstat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return;
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  // The owner first: changing it may clear set-id bits that the mode then restores.
  if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // Not ours to give away (an unprivileged writer): the file is the writer's.
  }
  ::fchmod(fd, old.st_mode & 07777);
  ::close(fd);
#else
  (void)target;
  (void)temporary;
#endif
}

// The directory entry of a rename on the disk too.
void SyncDirectory(const fs::path& target) {
#ifndef _WIN32
  const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
#else
  (void)target;
#endif
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

AtomicFile::AtomicFile(const fs::path& target) {
  target_ = ThroughLinks(target, refusal_);
  if (!refusal_.empty()) {
    done_ = true;  // nothing to remove
    return;
  }
  inPlace_ = IsDeviceOrPipe(target_);
  if (inPlace_) {
    temporary_ = target_;
    return;
  }
  RemoveStrays(target_);
  // The name is known to the signal handler before the file exists, so that
  // an interrupt at any moment leaves nothing behind.
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    temporary_ = target_.parent_path() / TemporaryName(target_, counter++, stamp);
    slot_ = Remember(temporary_);
    errno = 0;
    if (CreateNew(temporary_)) return;
    Forget(slot_);
    slot_ = -1;
    if (errno != EEXIST) break;
  }
  refusal_ = "cannot be written" + Reason();
  done_ = true;
}

AtomicFile::~AtomicFile() {
  if (done_ || inPlace_) return;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  Forget(slot_);
}

bool AtomicFile::Sync(std::string& error) {
  if (!refusal_.empty()) {
    error = "cannot write " + target_.string() + ": it " + refusal_;
    return false;
  }
  if (done_ || inPlace_ || synced_) return true;
  errno = 0;
  if (!SyncToDisk(temporary_)) {
    error = "cannot write " + target_.string() + Reason();
    Abandon();
    return false;
  }
  synced_ = true;
  return true;
}

bool AtomicFile::Commit(std::string& error) {
  if (!Sync(error)) return false;
  if (done_ || inPlace_) return true;
  done_ = true;
  KeepModeAndOwner(target_, temporary_);
  if (Rename(temporary_, target_, error)) {
    Forget(slot_);
    SyncDirectory(target_);
    return true;
  }
  error = "cannot write " + target_.string() + error;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  Forget(slot_);
  return false;
}

void AtomicFile::Abandon() {
  if (done_ || inPlace_) return;
  done_ = true;
  std::error_code ignored;
  fs::remove(temporary_, ignored);
  Forget(slot_);
}

bool WriteContent(AtomicFile& file, const std::function<void(std::ostream&)>& write, std::string& error) {
  const std::string path = file.Target().string();
  if (!file.Refusal().empty()) {
    error = "cannot write " + path + ": it " + file.Refusal();
    return false;
  }
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
