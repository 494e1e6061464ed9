/*
 * The recorder behind a small C interface, for hosts that drive the library
 * themselves (the Python binding loads it with ctypes): the same writer and
 * queue the capture tool uses. Linux only (it needs HDF5).
 */
#ifndef RK350_RECORDER_C_H
#define RK350_RECORDER_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RK350_RECORDER_API __attribute__((visibility("default")))

typedef struct {
  int32_t channel;      /* 1 or 2 */
  const uint8_t* codes; /* `length` codes, 128 is 0 V */
  int32_t valid_first, valid_count;
  int32_t overrange;
  double range; /* V full scale */
} rk350_recorder_channel;

typedef struct {
  uint64_t sequence;
  double host_time; /* seconds since 1970, UTC */
  uint32_t how;     /* RK350_RECORD_* */
  int64_t trigger_index;
  double sample_interval; /* s */
  uint32_t settings_version;
  uint32_t length;
  uint32_t channel_count; /* 1 or 2 */
  const rk350_recorder_channel* channels;
} rk350_recorder_frame;

/* `identity` and `settings`: "name=value" lines (the file's attributes and
 * its /settings group); null when there are none. Returns null when `path`
 * is null. The file itself is created with the first record. */
RK350_RECORDER_API void* rk350_recorder_open(const char* path, const char* identity, const char* settings,
                                             const char* description, uint64_t max_bytes, uint64_t split_bytes,
                                             double split_seconds);
/* 1 when the record was taken, 0 when not (counted as lost, or stopped). */
RK350_RECORDER_API int32_t rk350_recorder_offer(void* recorder, const rk350_recorder_frame* frame);
/* A snapshot; `reason` gets why the recorder stopped (may be null). */
RK350_RECORDER_API void rk350_recorder_status(void* recorder, uint64_t* written, uint64_t* lost, uint64_t* bytes,
                                              int32_t* stopped, int32_t* failed, char* reason, uint32_t reason_size);
/* Parts started so far and the file being written (`path` may be null). */
RK350_RECORDER_API void rk350_recorder_part(void* recorder, uint64_t* files, char* path, uint32_t path_size);
/* Writes what is queued and closes the file; the status stays readable. */
RK350_RECORDER_API void rk350_recorder_close(void* recorder, const char* ending);
/* Frees the recorder (closing it first when it was not). */
RK350_RECORDER_API void rk350_recorder_free(void* recorder);

#ifdef __cplusplus
}
#endif

#endif /* RK350_RECORDER_C_H */
