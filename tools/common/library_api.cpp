#include "library_api.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <climits>
#include <cstdlib>
#include <filesystem>

// Where the libraries lie relative to the installed program.
#ifndef RK350_CAPTURE_RELATIVE_LIBDIR
#define RK350_CAPTURE_RELATIVE_LIBDIR "../lib"
#endif

namespace rk350::capture {
namespace {

#if defined(_WIN32)
void* OpenFile(const std::string& file) { return reinterpret_cast<void*>(LoadLibraryA(file.c_str())); }
void* Symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void Close(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
std::string LastError() { return "error " + std::to_string(GetLastError()); }
#else
void* OpenFile(const std::string& file) { return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* Symbol(void* handle, const char* name) { return dlsym(handle, name); }
void Close(void* handle) { dlclose(handle); }
std::string LastError() {
  const char* e = dlerror();
  return e != nullptr ? e : "unknown error";
}
#endif

}  // namespace

std::unique_ptr<LoadedLibrary> LoadedLibrary::Open(const std::string& file, std::string& error) {
  void* handle = OpenFile(file);
  if (handle == nullptr) {
    error = "cannot load " + file + ": " + LastError();
    return nullptr;
  }
  std::unique_ptr<LoadedLibrary> library(new LoadedLibrary);
  library->handle_ = handle;
  library->file_ = file;
  std::string missing;
#define RK350_CAPTURE_LOOKUP(name)                                                 \
  library->api_.name = reinterpret_cast<decltype(&::name)>(Symbol(handle, #name)); \
  if (library->api_.name == nullptr) missing += std::string(missing.empty() ? "" : ", ") + #name;
  RK350_CAPTURE_REQUIRED(RK350_CAPTURE_LOOKUP)
#undef RK350_CAPTURE_LOOKUP
  if (!missing.empty()) {
    error = file + " lacks the exports " + missing;
    return nullptr;
  }
  return library;
}

LoadedLibrary::~LoadedLibrary() {
  if (handle_ != nullptr) Close(handle_);
}

void* LoadedLibrary::Find(const char* name) const { return Symbol(handle_, name); }

std::string ProgramDirectory() {
#if defined(_WIN32)
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string p(path, n);
  const auto slash = p.find_last_of("\\/");
#else
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string p(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  const auto slash = p.rfind('/');
#endif
  return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

std::vector<std::string> LibraryCandidates(bool hardware, const std::string& programDirectory) {
#if defined(_WIN32)
  const std::string name = hardware ? "rk350.dll" : "rk350_virtual.dll";
  return {programDirectory + "\\" + name, name};
#else
  const std::string name = hardware ? "librk350.so" : "librk350_virtual.so";
  auto candidates = BesideProgram(name, programDirectory);
  candidates.insert(candidates.end(), {name + ".0", name});
  return candidates;
#endif
}

std::vector<std::string> BesideProgram(const std::string& name, const std::string& programDirectory) {
#if defined(_WIN32)
  return {programDirectory + "\\" + name};
#else
  return {programDirectory + "/" + name, programDirectory + "/" RK350_CAPTURE_RELATIVE_LIBDIR "/" + name};
#endif
}

std::unique_ptr<LoadedLibrary> LoadFlavour(bool hardware, const std::string& file, std::string& errors) {
  std::vector<std::string> candidates;
  if (!file.empty()) {
    candidates = {file};
  } else if (const char* env = std::getenv("RK350_LIBRARY"); env != nullptr && *env != '\0') {
    candidates = {env};
  } else {
    candidates = LibraryCandidates(hardware, ProgramDirectory());
  }
  for (const auto& candidate : candidates) {
    if (candidate.find_first_of("/\\") != std::string::npos && !std::filesystem::exists(candidate)) continue;
    std::string error;
    if (auto library = LoadedLibrary::Open(candidate, error)) return library;
    errors += "  " + error + "\n";
  }
  return nullptr;
}

}  // namespace rk350::capture
