#include "recording_file.h"

#include <hdf5.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "rk350/rk350_ext.h"

namespace rk350::recording {
namespace {

// Rows of the per-record tables, in memory; HDF5 lays them out by name.
struct RecordRow {
  std::uint64_t sequence;
  double hostTime;
  std::uint8_t trigger;
  std::int64_t triggerIndex;
  double sampleInterval;
  std::uint32_t settingsVersion;
};

struct ChannelRow {
  std::int32_t validFirst;
  std::int32_t validCount;
  std::uint8_t overrange;
  double range;
  double voltsPerCode;
};

constexpr hsize_t kTableChunkRows = 256;
// About 64 KiB of codes per chunk: one record of a long record, many of a short one.
constexpr hsize_t kCodeChunkBytes = 65536;

// How the library took a record, named as the library's RK350_RECORD_* codes.
hid_t TriggerType() {
  const hid_t type = H5Tenum_create(H5T_NATIVE_UINT8);
  const struct {
    const char* name;
    std::uint8_t code;
  } kNames[] = {{"none", RK350_RECORD_NONE},
                {"triggered_card", RK350_RECORD_TRIGGERED_CARD},
                {"triggered_software", RK350_RECORD_TRIGGERED_SOFTWARE},
                {"forced_timeout", RK350_RECORD_FORCED_TIMEOUT},
                {"forced_call", RK350_RECORD_FORCED_CALL},
                {"free_run", RK350_RECORD_FREE_RUN}};
  for (const auto& n : kNames) H5Tenum_insert(type, n.name, &n.code);
  return type;
}

hid_t RecordRowType(hid_t trigger) {
  const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(RecordRow));
  H5Tinsert(type, "sequence", HOFFSET(RecordRow, sequence), H5T_NATIVE_UINT64);
  H5Tinsert(type, "host_time", HOFFSET(RecordRow, hostTime), H5T_NATIVE_DOUBLE);
  H5Tinsert(type, "trigger", HOFFSET(RecordRow, trigger), trigger);
  H5Tinsert(type, "trigger_index", HOFFSET(RecordRow, triggerIndex), H5T_NATIVE_INT64);
  H5Tinsert(type, "sample_interval", HOFFSET(RecordRow, sampleInterval), H5T_NATIVE_DOUBLE);
  H5Tinsert(type, "settings_version", HOFFSET(RecordRow, settingsVersion), H5T_NATIVE_UINT32);
  return type;
}

hid_t ChannelRowType() {
  const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(ChannelRow));
  H5Tinsert(type, "valid_first", HOFFSET(ChannelRow, validFirst), H5T_NATIVE_INT32);
  H5Tinsert(type, "valid_count", HOFFSET(ChannelRow, validCount), H5T_NATIVE_INT32);
  H5Tinsert(type, "overrange", HOFFSET(ChannelRow, overrange), H5T_NATIVE_UINT8);
  H5Tinsert(type, "range", HOFFSET(ChannelRow, range), H5T_NATIVE_DOUBLE);
  H5Tinsert(type, "volts_per_code", HOFFSET(ChannelRow, voltsPerCode), H5T_NATIVE_DOUBLE);
  return type;
}

// Variable-length UTF-8: h5py reads it as str, h5dump as text.
bool WriteText(hid_t object, const std::string& name, const std::string& value) {
  const hid_t type = H5Tcopy(H5T_C_S1);
  H5Tset_size(type, H5T_VARIABLE);
  H5Tset_cset(type, H5T_CSET_UTF8);
  const hid_t space = H5Screate(H5S_SCALAR);
  const hid_t attribute = H5Acreate2(object, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT);
  const char* text = value.c_str();
  const bool ok = attribute >= 0 && H5Awrite(attribute, type, &text) >= 0;
  if (attribute >= 0) H5Aclose(attribute);
  H5Sclose(space);
  H5Tclose(type);
  return ok;
}

template <typename T>
bool WriteNumber(hid_t object, const std::string& name, hid_t type, T value) {
  const hid_t space = H5Screate(H5S_SCALAR);
  const hid_t attribute = H5Acreate2(object, name.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT);
  const bool ok = attribute >= 0 && H5Awrite(attribute, type, &value) >= 0;
  if (attribute >= 0) H5Aclose(attribute);
  H5Sclose(space);
  return ok;
}

// A dataset of `columns` per row that grows by rows.
hid_t CreateGrowing(hid_t where, const char* name, hid_t type, hsize_t columns, hsize_t chunkRows) {
  const int rank = columns == 0 ? 1 : 2;
  const hsize_t dims[2] = {0, columns};
  const hsize_t maxDims[2] = {H5S_UNLIMITED, columns};
  const hsize_t chunk[2] = {chunkRows, columns};
  const hid_t space = H5Screate_simple(rank, dims, maxDims);
  const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
  H5Pset_chunk(properties, rank, chunk);
  const hid_t dataset = H5Dcreate2(where, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
  H5Pclose(properties);
  H5Sclose(space);
  return dataset;
}

// Row `row` of a growing dataset, the dataset extended to hold it.
bool WriteRow(hid_t dataset, hid_t type, hsize_t row, hsize_t columns, const void* data) {
  const int rank = columns == 0 ? 1 : 2;
  const hsize_t extent[2] = {row + 1, columns};
  if (H5Dset_extent(dataset, extent) < 0) return false;
  const hid_t file = H5Dget_space(dataset);
  const hsize_t start[2] = {row, 0};
  const hsize_t count[2] = {1, columns};
  H5Sselect_hyperslab(file, H5S_SELECT_SET, start, nullptr, count, nullptr);
  const hid_t memory = H5Screate_simple(rank, count, nullptr);
  const bool ok = H5Dwrite(dataset, type, memory, file, H5P_DEFAULT, data) >= 0;
  H5Sclose(memory);
  H5Sclose(file);
  return ok;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "unknown";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace

struct RecordingFile::Handles {
  hid_t file = -1;
  hid_t triggerType = -1;
  hid_t recordType = -1;
  hid_t channelType = -1;
  hid_t records = -1;
  struct Channel {
    int channel = 0;
    hid_t group = -1, codes = -1, table = -1;
  };
  std::vector<Channel> channels;
  hsize_t length = 0;

  ~Handles() {
    for (auto& c : channels) {
      if (c.table >= 0) H5Dclose(c.table);
      if (c.codes >= 0) H5Dclose(c.codes);
      if (c.group >= 0) H5Gclose(c.group);
    }
    if (records >= 0) H5Dclose(records);
    if (channelType >= 0) H5Tclose(channelType);
    if (recordType >= 0) H5Tclose(recordType);
    if (triggerType >= 0) H5Tclose(triggerType);
    if (file >= 0) H5Fclose(file);
  }
};

RecordingFile::RecordingFile(std::string path, std::unique_ptr<Handles> handles)
    : path_(std::move(path)), h_(std::move(handles)) {}

RecordingFile::~RecordingFile() = default;

std::unique_ptr<RecordingFile> RecordingFile::Create(const std::string& path, const RecordingHeader& header,
                                                     const RecordFrame& shape, std::string& error) {
  // The tools say what failed in their own words; HDF5's stack traces would
  // only repeat it.
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  auto h = std::make_unique<Handles>();
  errno = 0;
  h->file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  if (h->file < 0) {
    error = "cannot create " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return nullptr;
  }
  h->length = shape.Length();
  bool ok =
      WriteText(h->file, "format", "rk350-recording") && WriteNumber(h->file, "format_version", H5T_NATIVE_INT, 1);
  ok = ok && WriteText(h->file, "created", UtcNow()) && WriteText(h->file, "description", header.description);
  ok = ok && WriteNumber(h->file, "record_length", H5T_NATIVE_UINT64, static_cast<std::uint64_t>(h->length));
  ok = ok && WriteText(h->file, "volts", "(code - 128) * volts_per_code, volts_per_code = range / 128");
  ok = ok && WriteText(h->file, "time", "(position - trigger_index) * sample_interval, 0 at the trigger");
  for (const auto& [name, value] : header.identity) ok = ok && WriteText(h->file, name, value);
  const hid_t settings = H5Gcreate2(h->file, "settings", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  ok = ok && settings >= 0;
  if (settings >= 0) {
    for (const auto& [name, value] : header.settings) ok = ok && WriteText(settings, name, value);
    H5Gclose(settings);
  }
  h->triggerType = TriggerType();
  h->recordType = RecordRowType(h->triggerType);
  h->channelType = ChannelRowType();
  h->records = CreateGrowing(h->file, "records", h->recordType, 0, kTableChunkRows);
  ok = ok && h->records >= 0;
  const hsize_t codeRows = std::max<hsize_t>(1, kCodeChunkBytes / std::max<hsize_t>(1, h->length));
  for (const auto& c : shape.channels) {
    Handles::Channel channel;
    channel.channel = c.channel;
    const std::string name = "CH" + std::to_string(c.channel);
    channel.group = H5Gcreate2(h->file, name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (channel.group >= 0) {
      channel.codes = CreateGrowing(channel.group, "codes", H5T_NATIVE_UINT8, h->length, codeRows);
      channel.table = CreateGrowing(channel.group, "records", h->channelType, 0, kTableChunkRows);
      ok = ok && channel.codes >= 0 && channel.table >= 0 &&
           WriteNumber(channel.group, "channel", H5T_NATIVE_INT, c.channel);
      ok = ok && WriteNumber(channel.codes, "code_zero", H5T_NATIVE_INT, 128);
    }
    ok = ok && channel.group >= 0;
    h->channels.push_back(channel);
  }
  ok = ok && H5Fflush(h->file, H5F_SCOPE_LOCAL) >= 0;
  if (!ok) {
    error = "cannot write the start of " + path + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
    return nullptr;
  }
  return std::unique_ptr<RecordingFile>(new RecordingFile(path, std::move(h)));
}

bool RecordingFile::Fits(const RecordFrame& frame) const {
  if (frame.Length() != h_->length || frame.channels.size() != h_->channels.size()) return false;
  for (std::size_t i = 0; i < frame.channels.size(); ++i)
    if (frame.channels[i].channel != h_->channels[i].channel || frame.channels[i].codes.size() != h_->length)
      return false;
  return true;
}

bool RecordingFile::Append(const RecordFrame& frame, std::string& error) {
  if (!Fits(frame)) {
    error = path_ + " holds records of another shape";
    return false;
  }
  errno = 0;
  const hsize_t row = records_;
  bool ok = true;
  // The codes first and the table of records last: a reader counts the
  // records by that table.
  for (std::size_t i = 0; ok && i < frame.channels.size(); ++i) {
    const auto& c = frame.channels[i];
    const ChannelRow info{c.validFirst, c.validCount, static_cast<std::uint8_t>(c.overrange ? 1 : 0), c.range,
                          VoltsPerCode(c.range)};
    ok = WriteRow(h_->channels[i].codes, H5T_NATIVE_UINT8, row, h_->length, c.codes.data()) &&
         WriteRow(h_->channels[i].table, h_->channelType, row, 0, &info);
  }
  const RecordRow info{frame.sequence,     frame.hostTime,       static_cast<std::uint8_t>(frame.how),
                       frame.triggerIndex, frame.sampleInterval, frame.settingsVersion};
  ok = ok && WriteRow(h_->records, h_->recordType, row, 0, &info);
  ok = ok && H5Fflush(h_->file, H5F_SCOPE_LOCAL) >= 0;
  if (!ok) {
    const int cause = errno;
    error = "cannot write record " + std::to_string(frame.sequence) + " to " + path_ +
            (cause != 0 ? std::string(": ") + std::strerror(cause) : std::string());
    Shrink(records_);
    return false;
  }
  ++records_;
  return true;
}

bool RecordingFile::Shrink(std::uint64_t records) {
  bool ok = true;
  for (const auto& c : h_->channels) {
    const hsize_t codes[2] = {records, h_->length};
    const hsize_t rows[1] = {records};
    ok = H5Dset_extent(c.codes, codes) >= 0 && ok;
    ok = H5Dset_extent(c.table, rows) >= 0 && ok;
  }
  const hsize_t rows[1] = {records};
  return H5Dset_extent(h_->records, rows) >= 0 && ok;
}

bool RecordingFile::Close(std::uint64_t lost, const std::string& ending, std::string& error) {
  errno = 0;
  bool ok = WriteNumber(h_->file, "records_lost", H5T_NATIVE_UINT64, lost) && WriteText(h_->file, "ended", ending) &&
            WriteText(h_->file, "closed", UtcNow());
  const hid_t file = h_->file;
  h_->file = -1;
  // Every other handle goes first, so that the file really closes here.
  for (auto& c : h_->channels) {
    H5Dclose(c.table);
    H5Dclose(c.codes);
    H5Gclose(c.group);
    c.table = c.codes = c.group = -1;
  }
  H5Dclose(h_->records);
  h_->records = -1;
  ok = H5Fclose(file) >= 0 && ok;
  if (!ok) error = "cannot write the end of " + path_ + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
  return ok;
}

std::uint64_t RecordingFile::SizeOnDisk() const {
  hsize_t size = 0;
  if (h_->file >= 0 && H5Fget_filesize(h_->file, &size) >= 0) return size;
  return 0;
}

}  // namespace rk350::recording
