// A second thread for tests of what runs on which thread. The Windows
// toolchain's C++ runtime (win32 thread model, GCC 12) has no std::thread,
// and its std::this_thread::get_id() is the same on every thread, so Windows
// uses the Win32 calls.
#pragma once

#include <functional>

#if defined(_WIN32)
#include <windows.h>

#include <cstdlib>
#else
#include <thread>
#endif

namespace rk350::test {

#if defined(_WIN32)
using ThreadId = DWORD;
inline ThreadId ThisThreadId() { return GetCurrentThreadId(); }

inline DWORD WINAPI RunThreadBody(LPVOID body) {
  (*static_cast<std::function<void()>*>(body))();
  return 0;
}

// Runs `body` on a new thread and waits for it to end.
inline void RunOnOtherThread(std::function<void()> body) {
  HANDLE thread = CreateThread(nullptr, 0, &RunThreadBody, &body, 0, nullptr);
  if (thread == nullptr) std::abort();  // the test cannot say anything without it
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}
#else
using ThreadId = std::thread::id;
inline ThreadId ThisThreadId() { return std::this_thread::get_id(); }

// Runs `body` on a new thread and waits for it to end.
inline void RunOnOtherThread(std::function<void()> body) { std::thread(std::move(body)).join(); }
#endif

}  // namespace rk350::test
