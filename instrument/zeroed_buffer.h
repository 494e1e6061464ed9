// The instrument's large buffers: zeroed memory from calloc. Blocks of this
// size come from the system already zero, so a buffer is neither cleared a
// second time nor touched (no page faults) until it is used.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace rk350 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

template <typename T>
using ZeroedBuffer = std::unique_ptr<T[], FreeDeleter>;

// Throws std::bad_alloc like new when the memory is not there.
template <typename T>
ZeroedBuffer<T> AllocateZeroed(std::size_t count) {
  void* p = std::calloc(count, sizeof(T));
  if (p == nullptr) throw std::bad_alloc();
  return ZeroedBuffer<T>(static_cast<T*>(p));
}

}  // namespace rk350
