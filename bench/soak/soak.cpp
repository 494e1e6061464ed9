// Soak run: continuous acquisition on the virtual card in host time, driven by
// the library's timer through message pumping, with the measurement-ready
// event taken and every record fetched, for a given time. Prints the
// process's memory at the start and at the end, and the records per second.
//
//   rk350_soak [SECONDS [RECORD_LENGTH]]        (default 600 s, 5000 samples)
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"

namespace {

using Clock = std::chrono::steady_clock;

// Resident set size in KiB, from /proc/self/status.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 12, '\n');
  }
  return -1;
}

void PrintMemory(const char* when) {
  std::printf("%-6s memory: resident %ld KiB, heap in use %zu bytes\n", when, ResidentKiB(),
              static_cast<size_t>(mallinfo2().uordblks));
}

bool Check(uint16_t result, const char* call) {
  if (result == RK350_RESULT_OK) return true;
  std::fprintf(stderr, "rk350_soak: %s: %s\n", call, RK350_ResultName(result));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 600.0;
  const uint32_t length = argc > 2 ? static_cast<uint32_t>(std::atol(argv[2])) : 5000;
  if (!(seconds > 0) || length == 0 || length > 65520) {
    std::fprintf(stderr, "usage: rk350_soak [SECONDS [RECORD_LENGTH]]\n");
    return 1;
  }
  if (!Check(InitInstrument(0x288), "InitInstrument")) return 2;
  double rate = 1e6, amplitude = 1.0, frequency = 2000, range = 4.0;
  if (!Check(SetSensitivity(1, &range), "SetSensitivity") ||
      !Check(SetSampleFrequencyF(&rate), "SetSampleFrequencyF") || !Check(SetRecordLength(length), "SetRecordLength") ||
      !Check(SetPostSamples(length / 2), "SetPostSamples") || !Check(SetTriggerTimeOut(200), "SetTriggerTimeOut") ||
      !Check(SetFuncGenSignalType(0), "SetFuncGenSignalType") ||
      !Check(SetFuncGenAmplitude(amplitude), "SetFuncGenAmplitude") ||
      !Check(SetFuncGenSymmetry(50), "SetFuncGenSymmetry") ||
      !Check(SetFuncGenFrequency(&frequency), "SetFuncGenFrequency") ||
      !Check(SetFuncGenOutputOn(1), "SetFuncGenOutputOn") || !Check(DoMeasure(-1), "DoMeasure")) {
    return 2;
  }

  std::vector<double> ch1(length), ch2(length);
  long records = 0, badRecords = 0, pumps = 0;
  const auto start = Clock::now();
  auto lastReport = start;
  bool memoryShown = false;
  for (;;) {
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start).count();
    if (elapsed >= seconds) break;
    RK350_ProcessMessages();
    ++pumps;
    if (RK350_TakeMeasurementReady() != 0) {
      if (!Check(GetMeasurement(ch1.data(), ch2.data()), "GetMeasurement")) return 2;
      ++records;
      double low = ch1[0], high = ch1[0];
      for (double v : ch1) low = std::fmin(low, v), high = std::fmax(high, v);
      if (std::fabs(high - low - 2 * amplitude) > 0.2) ++badRecords;  // the looped-back sine
      // The first records (and the first line printed, whose buffer stdio
      // allocates) take what the run needs; memory from here on.
      if (records == 10 && !memoryShown) {
        std::printf("soak: %.0f s of continuous %u-sample records at 1 MHz, CH1 the looped-back 2 kHz sine\n", seconds,
                    length);
        PrintMemory("start");
        memoryShown = true;
      }
    }
    if (std::chrono::duration<double>(now - lastReport).count() >= 60) {
      lastReport = now;
      std::printf("%6.0f s: %ld records (%.1f/s), resident %ld KiB\n", elapsed, records, records / elapsed,
                  ResidentKiB());
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  DoMeasure(0);
  PrintMemory("end");
  std::printf(
      "%ld records of %u samples in %.1f s: %.2f records/s; %ld pumps; %ld records without the expected swing\n",
      records, length, elapsed, records / elapsed, pumps, badRecords);
  ExitInstrument();
  return badRecords == 0 && records > 0 ? 0 : 3;
}
