/*
 * Small helpers shared by the C examples: stop with the library's name and
 * meaning of a result code, wait while processing the library's messages, and
 * a few figures of a record.
 */
#ifndef RK350_EXAMPLE_UTIL_H
#define RK350_EXAMPLE_UTIL_H

#include <math.h>
#include <rk350/rk350_ext.h>
#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <windows.h>
static inline void sleep_ms(unsigned ms) { Sleep(ms); }
static inline double now_seconds(void) { return GetTickCount() / 1000.0; }
#else
#include <time.h>
static inline void sleep_ms(unsigned ms) {
  struct timespec t;
  t.tv_sec = ms / 1000;
  t.tv_nsec = (long)(ms % 1000) * 1000000L;
  nanosleep(&t, NULL);
}
static inline double now_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}
#endif

/* Stops the program when a call did not answer ResultOk. */
static inline void check(uint16_t result, const char* call) {
  if (result != RK350_RESULT_OK) {
    fprintf(stderr, "%s: %s (%s)\n", call, RK350_ResultName(result), RK350_ResultText(result));
    ExitInstrument();
    exit(1);
  }
}

/* Stops the program when a measured figure is not what the example expects. */
static inline void expect_near(double value, double expected, double tolerance, const char* what) {
  printf("%-28s %10.4f (expected %.4f +- %.4f)\n", what, value, expected, tolerance);
  if (!(fabs(value - expected) <= tolerance)) {
    fprintf(stderr, "%s is off\n", what);
    ExitInstrument();
    exit(2);
  }
}

/* Waits while the library's timer and messages run on this thread. */
static inline void pump_for(double seconds) {
  double end = now_seconds() + seconds;
  while (now_seconds() < end) {
    RK350_ProcessMessages();
    sleep_ms(2);
  }
}

static inline void min_max(const double* v, int n, double* lo, double* hi) {
  int i;
  *lo = *hi = n > 0 ? v[0] : 0.0;
  for (i = 1; i < n; ++i) {
    if (v[i] < *lo) *lo = v[i];
    if (v[i] > *hi) *hi = v[i];
  }
}

/* Frequency from the rising crossings of the mid level. */
static inline double frequency_of(const double* v, int n, double rate) {
  double lo, hi, mid;
  int i, first = -1, last = -1, count = 0;
  min_max(v, n, &lo, &hi);
  mid = (lo + hi) / 2;
  for (i = 1; i < n; ++i) {
    if (v[i - 1] < mid && v[i] >= mid) {
      if (first < 0) first = i;
      last = i;
      ++count;
    }
  }
  return count >= 2 ? rate * (count - 1) / (last - first) : 0.0;
}

#endif /* RK350_EXAMPLE_UTIL_H */
