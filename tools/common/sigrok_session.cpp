#include "sigrok_session.h"

#include <bit>
#include <cmath>
#include <stdexcept>
#include <vector>

#if defined(RK350_CAPTURE_HAVE_LIBZIP)
#include <dlfcn.h>
#include <zip.h>
#endif

namespace rk350::capture {

std::uint64_t SigrokSampleRate(double hertz) {
  if (!(hertz >= 1.0)) return 1;
  if (hertz >= 1e18) return 1'000'000'000'000'000'000ull;
  return static_cast<std::uint64_t>(std::llround(hertz));
}

std::string SigrokMetadata(const Record& record) {
  // How the record was taken rides as a comment: the format has no key for
  // it, and readers skip comment lines.
  std::string text = record.taken.empty() ? std::string() : "# taken: " + record.taken + "\n";
  text += "[device 1]\nsamplerate=" + std::to_string(SigrokSampleRate(record.sampleRate)) +
          "\ntotal analog=" + std::to_string(record.channels.size()) + "\n";
  for (std::size_t i = 0; i < record.channels.size(); ++i)
    text += "analog" + std::to_string(i + 1) + "=" + record.channels[i].name + "\n";
  return text;
}

#if defined(RK350_CAPTURE_HAVE_LIBZIP)

namespace {

// libzip is loaded when the first session is written, not when the tool
// starts: with what it loads in turn (libcrypto among them) it costs every
// run several milliseconds of dynamic loading, and most runs write none.
// clang-format off
#define RK350_LIBZIP_FUNCTIONS(F)                                                                   \
  F(zip_error_init) F(zip_error_fini) F(zip_error_strerror) F(zip_strerror)                        \
  F(zip_source_buffer_create) F(zip_source_keep) F(zip_source_buffer) F(zip_source_free)           \
  F(zip_source_open) F(zip_source_stat) F(zip_source_read) F(zip_source_close)                     \
  F(zip_open_from_source) F(zip_file_add) F(zip_set_file_compression) F(zip_close) F(zip_discard)
// clang-format on

struct Libzip {
#define RK350_LIBZIP_POINTER(name) decltype(&::name) name = nullptr;
  RK350_LIBZIP_FUNCTIONS(RK350_LIBZIP_POINTER)
#undef RK350_LIBZIP_POINTER
};

// Throws when the library or one of its functions is missing (then the
// next session tries again).
const Libzip& Zip() {
  static const Libzip zip = [] {
    void* library = dlopen(RK350_LIBZIP_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) throw std::runtime_error(std::string("sigrok session: cannot load ") + RK350_LIBZIP_SONAME);
    Libzip z;
#define RK350_LIBZIP_SYMBOL(name)                                                                      \
  z.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));                                 \
  if (z.name == nullptr) {                                                                             \
    dlclose(library);                                                                                  \
    throw std::runtime_error(std::string("sigrok session: ") + RK350_LIBZIP_SONAME + " lacks " #name); \
  }
    RK350_LIBZIP_FUNCTIONS(RK350_LIBZIP_SYMBOL)
#undef RK350_LIBZIP_SYMBOL
    return z;
  }();
  return zip;
}

// Little-endian IEEE single precision, whatever the host's byte order.
std::vector<unsigned char> FloatSamples(const std::vector<double>& volts) {
  std::vector<unsigned char> bytes(volts.size() * 4);
  for (std::size_t i = 0; i < volts.size(); ++i) {
    const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(volts[i]));
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<unsigned char>(bits >> (8 * b));
  }
  return bytes;
}

// The archive is built in memory, so the file goes through the same writer
// (and the same complete-or-absent rule) as the CSV and the picture.
class MemoryArchive {
 public:
  MemoryArchive() {
    Zip().zip_error_init(&error_);
    buffer_ = Zip().zip_source_buffer_create(nullptr, 0, 0, &error_);
    if (buffer_ == nullptr) Fail("cannot make an archive in memory");
    Zip().zip_source_keep(buffer_);  // it outlives the archive, which is read back from it
    archive_ = Zip().zip_open_from_source(buffer_, ZIP_TRUNCATE, &error_);
    if (archive_ == nullptr) Fail("cannot open the archive");
  }
  ~MemoryArchive() {
    if (archive_ != nullptr) Zip().zip_discard(archive_);
    if (buffer_ != nullptr) Zip().zip_source_free(buffer_);
    Zip().zip_error_fini(&error_);
  }
  MemoryArchive(const MemoryArchive&) = delete;
  MemoryArchive& operator=(const MemoryArchive&) = delete;

  // `data` must stay valid until Close.
  void Add(const char* name, const void* data, std::size_t size, bool compress) {
    zip_source_t* member = Zip().zip_source_buffer(archive_, data, size, 0);
    if (member == nullptr) Fail(std::string("cannot add ") + name);
    const zip_int64_t index = Zip().zip_file_add(archive_, name, member, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      Zip().zip_source_free(member);
      Fail(std::string("cannot add ") + name);
    }
    // Level 1: 8-bit samples in floats shrink about as well as at level 9,
    // several times faster.
    const zip_int32_t method = compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
    if (Zip().zip_set_file_compression(archive_, static_cast<zip_uint64_t>(index), method, compress ? 1 : 0) != 0)
      Fail(std::string("cannot compress ") + name);
  }

  void CloseInto(std::ostream& out) {
    if (Zip().zip_close(archive_) != 0) Fail("cannot finish the archive");
    archive_ = nullptr;
    zip_stat_t stat;
    if (Zip().zip_source_open(buffer_) != 0 || Zip().zip_source_stat(buffer_, &stat) != 0 ||
        (stat.valid & ZIP_STAT_SIZE) == 0)
      Fail("cannot read the archive back");
    std::vector<char> bytes(static_cast<std::size_t>(stat.size));
    const zip_int64_t read = Zip().zip_source_read(buffer_, bytes.data(), bytes.size());
    Zip().zip_source_close(buffer_);
    if (read < 0 || static_cast<zip_uint64_t>(read) != stat.size) Fail("cannot read the archive back");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    const char* reason = archive_ != nullptr ? Zip().zip_strerror(archive_) : Zip().zip_error_strerror(&error_);
    throw std::runtime_error("sigrok session: " + what + " (" + reason + ")");
  }
  zip_error_t error_;
  zip_source_t* buffer_ = nullptr;
  zip_t* archive_ = nullptr;
};

}  // namespace

bool SigrokSessionsSupported() { return true; }

void WriteSigrokSession(std::ostream& out, const Record& record) {
  static const char kVersion[] = "2";
  const std::string metadata = SigrokMetadata(record);
  std::vector<std::vector<unsigned char>> samples;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < record.channels.size(); ++i) {
    samples.push_back(FloatSamples(record.channels[i].volts));
    names.push_back("analog-1-" + std::to_string(i + 1) + "-1");
  }
  MemoryArchive archive;
  archive.Add("version", kVersion, 1, false);
  archive.Add("metadata", metadata.data(), metadata.size(), true);
  for (std::size_t i = 0; i < samples.size(); ++i)
    archive.Add(names[i].c_str(), samples[i].data(), samples[i].size(), true);
  archive.CloseInto(out);
}

#else

bool SigrokSessionsSupported() { return false; }

void WriteSigrokSession(std::ostream&, const Record&) {
  throw std::runtime_error("this build writes no sigrok sessions (it was built without libzip)");
}

#endif

}  // namespace rk350::capture
