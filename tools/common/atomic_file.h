// Files the tools write are complete or absent: the content goes to a
// temporary file beside the target, which takes the target's name only once
// everything was written and flushed. On failure the temporary is removed,
// and a file that already had the name stays as it was.
//
// Writers that produce a stream use WriteFileAtomically. Writers that open
// the file themselves (a library that wants a path) write to
// AtomicFile::TemporaryPath() and then call Commit().
//
// A target that exists and is not a regular file (a device such as
// /dev/stdout or /dev/null, a pipe) is written in place: there is no file to
// leave half-written, and renaming over it would replace the device. A
// target that is a symbolic link is written through: the file it names is
// replaced, the link stays.
//
// Every temporary not yet committed or removed is known to
// RemoveTemporariesNow, which a signal handler may call before the process
// ends, so that an interrupted writer leaves nothing behind. A writer killed
// outright leaves its temporary, which names its process: the next writer of
// the same target removes it once that process is gone.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace rk350::tools {

class AtomicFile {
 public:
  explicit AtomicFile(const std::filesystem::path& target);  // a link: the file it names
  ~AtomicFile();                                             // removes the temporary unless committed
  // Why the target cannot be written at all (a link of another user, no
  // temporary could be made); empty when it can.
  const std::string& Refusal() const { return refusal_; }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::filesystem::path& Target() const { return target_; }
  // Where the content goes: the temporary, or the target itself when that is
  // a device or pipe.
  const std::filesystem::path& TemporaryPath() const { return temporary_; }
  // Flushes the finished temporary to disk; a writer of several files syncs
  // them all before it commits any, so that a crash in between leaves the
  // old set whole. False, with `error` saying why (the temporary is gone).
  bool Sync(std::string& error);
  // Syncs (if not done yet) and renames the temporary to the target.
  // False, with `error` saying why, when that fails (the temporary is gone).
  bool Commit(std::string& error);

 private:
  std::filesystem::path target_;
  std::filesystem::path temporary_;
  std::string refusal_;
  bool inPlace_ = false;
  bool done_ = false;
  bool synced_ = false;
  void Abandon();  // removes the temporary
  int slot_ = -1;  // in the table RemoveTemporariesNow reads
};

// Fills the file's temporary through `write` (see WriteFileAtomically), and
// does not commit it: a writer of several files commits them together.
bool WriteContent(AtomicFile& file, const std::function<void(std::ostream&)>& write, std::string& error);

// Opens the target's temporary, lets `write` fill it and commits it. The
// stream reports write errors through its state (a full disk, a device that
// refuses). False, with `error` naming the file, when anything failed; then
// nothing new is left under the target's name.
bool WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write, std::string& error);

// Removes every temporary of this process that is not committed yet. Safe in
// a signal handler (it only unlinks names kept in a fixed table).
void RemoveTemporariesNow() noexcept;

}  // namespace rk350::tools
