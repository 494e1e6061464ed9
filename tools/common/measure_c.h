/*
 * The measurement module behind a small C interface, for hosts that hold a
 * record themselves (the Python binding loads it with ctypes): the figures
 * the capture tool's summary shows, computed by the same code.
 */
#ifndef RK350_MEASURE_C_H
#define RK350_MEASURE_C_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define RK350_MEASURE_API
#else
#define RK350_MEASURE_API __attribute__((visibility("default")))
#endif

typedef struct {
  const char* key;   /* "acRms": the figure's name in JSON and in Python */
  const char* label; /* "AC RMS" */
  const char* unit;  /* "V", "Hz", "s", "%" */
  int32_t measured;  /* 0: the record does not have this figure */
  double value;
  double uncertainty; /* three standard deviations; NaN when the module gives none */
  const char* reason; /* why it was not measured, when the module says; else null */
  char text[48];      /* as the capture tool's summary shows it; empty when not measured */
} rk350_measure_figure;

/* The number of figures in the measurement table. */
RK350_MEASURE_API uint32_t rk350_measure_count(void);

/* Measures one channel's record: `length` volts, NaN at positions that hold
 * no sample, `sample_interval` seconds apart, on a `full_scale` volts range
 * (0 when unknown). Fills up to `capacity` figures in the table's order and
 * returns how many; -1 (nothing written) when an argument is unusable. */
RK350_MEASURE_API int32_t rk350_measure(const double* volts, uint32_t length, double sample_interval, double full_scale,
                                        rk350_measure_figure* figures, uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* RK350_MEASURE_C_H */
