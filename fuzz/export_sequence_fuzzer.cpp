// libFuzzer harness: random sequences of every export of the public headers
// (rk350.h, rk350_ext.h, rk350_sim.h) on the virtual card, with nulls, NaN,
// infinities and huge values, bad channels and indexes, Init/Exit anywhere,
// engine ticks and message pumping, faults and EEPROM images.
//
// Each input starts from the library as just loaded (the library returns to
// its load state in-process; the fuzzer cannot reload an instrumented
// library) and a card at power-on in manual time. Beyond the sanitizers'
// checks, each call is held to what the interface documents:
//   - an export that answers a result code answers one of the seven codes;
//   - a guarded export called without a present instrument answers
//     ResultNoInstrument;
//   - an export that fails leaves the memory its pointers name as it was
//     (the three documented exceptions aside);
//   - StartMeasurement returns within the bound its time-outs set, and no
//     other call takes longer than kCallBoundMs. The library's millisecond
//     clock is simulated (each reading moves it on by 1 ms), so waits cost
//     no real time and the bounds are counted, not timed.
//
// Input layout: one byte picks the starting state, then each operation is a
// byte (its number in kOperations) followed by its arguments as FuzzInput
// reads them. RK350_FUZZ_WRITE_SEEDS=DIR writes DIR/seeds and DIR/regressions
// and exits.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "flavour/default_card.h"
#include "fuzz/fuzz_input.h"
#include "library/library_state.h"
#include "platform/platform.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#include "rk350/rk350_sim.h"

namespace rk350::fuzz {
namespace {

// In simulated milliseconds (see SimulatedClock): the longest any call but
// StartMeasurement may take (a readout's bounded advance waits, 4 x 10 ms per
// channel and try, with room), the slack on StartMeasurement's computed
// bound, and the longest StartMeasurement worth running.
constexpr uint64_t kCallBoundMs = 1000;
constexpr double kWaitSlackMs = 100;
constexpr double kLongestWaitMs = 20000;
constexpr size_t kMaxBufferElements = 65536;

[[noreturn]] void Violation(std::string_view name, const char* what, double detail) {
  std::fprintf(stderr, "\n==== oracle: %.*s: %s (%g)\n", static_cast<int>(name.size()), name.data(), what, detail);
  std::fflush(stderr);
  std::abort();
}

// The library's millisecond clock and the message queue's timer clock,
// simulated: every reading moves it on by one millisecond, so bounded waits
// end after a bounded number of polls instead of real time, the 6 ms timer
// comes due every few pumps, and the wait oracle counts simulated
// milliseconds.
uint64_t gSimulatedMs = 0;
uint64_t SimulatedClock() { return ++gSimulatedMs; }

bool Among(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsResultCode(uint64_t v) { return v == 0 || v == 1 || v == 2 || v == 4 || v == 8 || v == 16 || v == 32; }

// uint16_t exports that answer a value, not a result code.
bool AnswersAValue(std::string_view name) {
  return Among(name, {"ADC_Running", "ADC_Triggered", "ADC_Ready", "GetSquareWaveGenStatus", "GetFunctionGenStatus",
                      "RK350Sim_GetBaseAddress", "RK350Sim_GetGeneratorOutput"});
}

// Exports of rk350.h that do not start with the instrument check: fixed
// answers, the lifecycle, and the two that test the instrument's kind first.
bool Unguarded(std::string_view name) {
  return Among(name, {"GetSquareWaveGenFrequency", "SetFuncGenAmplitudeRange", "GetFuncGenAmplitudeRange",
                      "SetFuncGenMode", "GetFuncGenMode", "GetOhmValues", "GetActiveQV5", "SetActiveQV5", "SetDAC1451",
                      "SetMotorOn", "InitInstrument", "ExitInstrument", "SetTransferMode", "GetTransferMode"});
}

// Documented writes of a failing call.
bool WritesWhenFailing(std::string_view name) {
  return Among(name, {"GetFuncGenOutputOn", "GetFuncGenEnable", "GetExternalClock", "SetSampleFrequency"});
}

size_t RecordLength() {
  return gInstrument != nullptr ? static_cast<size_t>(std::clamp<int32_t>(gInstrument->lRecordLength, 1, 65536)) : 1;
}

// How many elements a pointer argument must hold; 1 unless the interface
// names a count.
size_t Elements(std::string_view name) {
  if (Among(name, {"ADC_GetDataCh", "ADC_GetDataVoltCh", "ADC_GetData", "ADC_GetDataVolt", "GetMeasurement",
                   "GetMeasurementRaw"})) {
    return RecordLength();
  }
  if (Among(name, {"GetAvailableSensitivities", "GetAvailableResolutions"})) return 20;
  return 1;
}

// Exports whose count argument sizes a buffer: (count argument, pointer argument).
struct CountedBuffer {
  std::string_view name;
  size_t count, pointer;
};
constexpr CountedBuffer kCountedBuffers[] = {
    {"FillFuncGenMemory", 0, 1},
    {"I2CWrite", 2, 1},
    {"I2CWriteNoStop", 2, 1},
    {"I2CRead", 2, 1},
    {"I2CReadNoStop", 2, 1},
    {"RK350Sim_LoadEepromImage", 1, 0},
    {"RK350Sim_ReadEepromImage", 1, 0},
    {"RK350Sim_GetEepromTraceVcd", 1, 0},
    {"RK350Sim_SetInputSamples", 2, 1},
};

// ---- Arguments -------------------------------------------------------------

template <typename T, typename = void>
struct Arg;

// Integers and doubles.
template <typename T>
struct Arg<T, std::enable_if_t<std::is_arithmetic_v<T>>> {
  T value{};
  void Choose(FuzzInput& in) {
    if constexpr (std::is_floating_point_v<T>) {
      value = static_cast<T>(in.Double());
    } else {
      value = static_cast<T>(in.Integer(sizeof(T)));
    }
  }
  uint64_t Count() const {
    if constexpr (std::is_floating_point_v<T>) {
      return 0;
    } else {
      return static_cast<uint64_t>(value);
    }
  }
  void LimitCount(uint64_t most) {
    if constexpr (!std::is_floating_point_v<T>) {
      if (static_cast<uint64_t>(value) > most) value = static_cast<T>(most);
    }
  }
  void Fill(FuzzInput&, size_t) {}
  bool Changed() const { return false; }
  T Get() { return value; }
};

// Function pointers: always null (the harness installs its own where needed).
template <typename T>
struct Arg<T, std::enable_if_t<std::is_pointer_v<T> && std::is_function_v<std::remove_pointer_t<T>>>> {
  void Choose(FuzzInput&) {}
  uint64_t Count() const { return 0; }
  void LimitCount(uint64_t) {}
  void Fill(FuzzInput&, size_t) {}
  bool Changed() const { return false; }
  T Get() { return nullptr; }
};

// Data pointers: null, or an exact-size heap buffer (so that AddressSanitizer
// sees any access beyond it) filled from the input.
template <typename T>
struct Arg<T, std::enable_if_t<std::is_pointer_v<T> && !std::is_function_v<std::remove_pointer_t<T>>>> {
  using Element = std::remove_cv_t<std::remove_pointer_t<T>>;
  static constexpr size_t kSize =
      std::is_void_v<Element> ? 1 : sizeof(std::conditional_t<std::is_void_v<Element>, char, Element>);
  std::vector<unsigned char> bytes, before;
  bool null = false;
  void Choose(FuzzInput&) {}
  uint64_t Count() const { return 0; }
  void LimitCount(uint64_t) {}
  void Fill(FuzzInput& in, size_t elements) {
    null = in.Byte() % 8 == 0;
    if (null) return;
    bytes.resize(std::max<size_t>(elements, 1) * kSize);
    if constexpr (std::is_same_v<Element, double>) {
      const double v = in.Double();
      for (size_t i = 0; i < bytes.size(); i += sizeof v) std::memcpy(&bytes[i], &v, sizeof v);
    } else if constexpr (std::is_same_v<Element, RK350SimSource>) {
      RK350SimSource s{};
      s.kind = static_cast<int32_t>(in.Byte() % 10);
      s.amplitude = in.Double();
      s.frequency = in.Double();
      s.offset = in.Double();
      s.phase = in.Double();
      s.stepTime = in.Double();
      s.noise = in.Byte() % 4 == 0 ? in.Double() : 0.0;
      std::memcpy(bytes.data(), &s, sizeof s);
    } else {
      const uint8_t a = in.Byte(), b = in.Byte();
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(a + b * i);
    }
    before = bytes;
  }
  bool Changed() const { return !null && bytes != before; }
  T Get() { return null ? nullptr : reinterpret_cast<T>(bytes.data()); }
};

template <typename Tuple, typename F>
void ForEachIndexed(Tuple& t, F&& f) {
  std::apply(
      [&](auto&... a) {
        size_t i = 0;
        (f(i++, a), ...);
      },
      t);
}

// Calls an export with arguments chosen from the input and holds the answer
// to the documented rules.
template <typename R, typename... A>
void Invoke(std::string_view name, bool fromMainHeader, R (*function)(A...), FuzzInput& in) {
  std::tuple<Arg<A>...> args;
  ForEachIndexed(args, [&](size_t, auto& a) { a.Choose(in); });
  size_t elements[sizeof...(A) + 1];
  std::fill(std::begin(elements), std::end(elements), Elements(name));
  for (const CountedBuffer& c : kCountedBuffers) {
    if (c.name != name) continue;
    ForEachIndexed(args, [&](size_t i, auto& a) {
      if (i == c.count) {
        a.LimitCount(kMaxBufferElements);
        elements[c.pointer] = static_cast<size_t>(a.Count());
      }
    });
  }
  ForEachIndexed(args, [&](size_t i, auto& a) { a.Fill(in, elements[i]); });

  const bool present = InstrumentPresent();
  const uint64_t start = gSimulatedMs;
  if constexpr (std::is_void_v<R>) {
    std::apply([&](auto&... a) { function(a.Get()...); }, args);
  } else {
    const R result = std::apply([&](auto&... a) { return function(a.Get()...); }, args);
    if constexpr (std::is_same_v<R, uint16_t>) {
      if (AnswersAValue(name)) {
        const bool generatorStatus = name == "GetSquareWaveGenStatus" || name == "GetFunctionGenStatus";
        const bool flag = name != "ADC_Triggered" && name != "RK350Sim_GetBaseAddress" && !generatorStatus;
        if (flag && result > 1) Violation(name, "answer outside 0 and 1", result);
        // Without an instrument ResultNoInstrument; else present (0), or
        // ResultNoGenerator when the card's EEPROM says it has none.
        if (generatorStatus && !present && result != RK350_RESULT_NO_INSTRUMENT) {
          Violation(name, "without an instrument did not answer ResultNoInstrument", result);
        }
        if (generatorStatus && present && result != 0 && result != RK350_RESULT_NO_GENERATOR) {
          Violation(name, "answer outside 0 and ResultNoGenerator", result);
        }
        if (name == "ADC_Triggered" && (result & ~6u) != 0) Violation(name, "answer outside 0, 2, 4, 6", result);
      } else {
        if (!IsResultCode(result)) Violation(name, "not a result code", result);
        if (fromMainHeader && !present && !Unguarded(name) && result != RK350_RESULT_NO_INSTRUMENT) {
          Violation(name, "guarded call without an instrument did not answer ResultNoInstrument", result);
        }
        if (result != RK350_RESULT_OK && !WritesWhenFailing(name)) {
          ForEachIndexed(args, [&](size_t i, auto& a) {
            if (a.Changed()) Violation(name, "failing call wrote through its pointer argument", static_cast<double>(i));
          });
        }
      }
    }
  }
  const uint64_t elapsed = gSimulatedMs - start;
  if (elapsed > kCallBoundMs)
    Violation(name, "call took longer than any bounded wait (ms)", static_cast<double>(elapsed));
}

// ---- Operations the harness runs its own way ------------------------------------

void RK350_CALL DiscardMessageBox(void*, const char*) {}

int RK350_CALL CardIn(void* card, uint16_t port) { return static_cast<card::VirtualCard*>(card)->BusIn(port); }
int RK350_CALL CardOut(void* card, uint16_t port, uint8_t value) {
  static_cast<card::VirtualCard*>(card)->Out(port, value);
  return 0;
}

// StartMeasurement waits for a trigger up to its time-out, then for the
// record up to 2 s plus twice the post-trigger time, and gives a silent card
// up after 500 ms; automatic ranging may arm once per range. In simulated
// milliseconds; negative when it waits for a trigger without limit.
double StartMeasurementBoundMs() {
  const int32_t timeoutMs = GetTriggerTimeOut();
  if (timeoutMs < 0) return -1;
  const double rate = GetSampleFrequencyF();
  const double postMs = rate > 0 ? 1000.0 * (GetPostSamples() + 64) / rate : 0;
  bool autoRanging = false;
  for (uint8_t ch = 1; ch <= 2; ++ch) {
    uint8_t on = 0;
    autoRanging = autoRanging || (GetAutoRanging(ch, &on) == RK350_RESULT_OK && on != 0);
  }
  return (static_cast<double>(timeoutMs) + 50 + 500 + 2000 + 2 * postMs) * (autoRanging ? 12 : 1) + kWaitSlackMs;
}

void RunStartMeasurement(FuzzInput&) {
  const double bound = StartMeasurementBoundMs();
  if (!InstrumentPresent() || bound < 0 || bound > kLongestWaitMs) return;
  const uint64_t start = gSimulatedMs;
  const uint16_t result = StartMeasurement();
  const auto elapsed = static_cast<double>(gSimulatedMs - start);
  if (!IsResultCode(result)) Violation("StartMeasurement", "not a result code", result);
  if (elapsed > bound) Violation("StartMeasurement", "wait exceeded its bound (ms)", elapsed);
}

struct Operation {
  std::string_view name;
  std::function<void(FuzzInput&)> run;
};

std::vector<Operation> BuildOperations() {
  std::vector<Operation> ops;
#define RK350_EXPORT_CALL(name, header, kind, args) \
  ops.push_back({#name, [](FuzzInput& in) { Invoke(#name, std::string_view(header) == "rk350.h", &name, in); }});
#define RK350_SIM_EXPORT_CALL(name, kind, args) \
  ops.push_back({#name, [](FuzzInput& in) { Invoke(#name, false, &name, in); }});
#include "generated/export_calls.inc"
#undef RK350_EXPORT_CALL
#undef RK350_SIM_EXPORT_CALL
  auto replace = [&](std::string_view name, std::function<void(FuzzInput&)> run) {
    for (Operation& op : ops)
      if (op.name == name) op.run = std::move(run);
  };
  replace("StartMeasurement", RunStartMeasurement);
  replace("InitInstrument", [](FuzzInput& in) {
    const uint8_t choice = in.Byte();
    const uint16_t address = choice < 200 ? 0x288 : choice < 230 ? 0x300 : static_cast<uint16_t>(in.Raw(2));
    const uint16_t result = InitInstrument(address);
    if (result != RK350_RESULT_OK && result != RK350_RESULT_NO_INSTRUMENT)
      Violation("InitInstrument", "answer", result);
  });
  replace("RK350_SetMessageBoxHandler", [](FuzzInput&) { RK350_SetMessageBoxHandler(DiscardMessageBox, nullptr); });
  replace("RK350_SetPortFunctions", [](FuzzInput& in) {
    const uint8_t choice = in.Byte() % 3;
    card::VirtualCard* c = &card::DefaultVirtualCard();
    const uint16_t result = choice == 0   ? RK350_SetPortFunctions(nullptr, nullptr, nullptr)
                            : choice == 1 ? RK350_SetPortFunctions(c, CardIn, CardOut)
                                          : RK350_SetPortFunctions(c, CardIn, nullptr);
    const bool exists = gInstrument != nullptr;
    const uint16_t expected = exists ? RK350_RESULT_NOT_AVAILABLE : choice == 2 ? RK350_RESULT_INVALID_VALUE : 0;
    if (result != expected) Violation("RK350_SetPortFunctions", "answer", result);
  });
  // The record's exact extent and overrange flags, and the software trigger,
  // held to what rk350_ext.h says of them.
  replace("RK350_SetSoftwareTrigger", [](FuzzInput& in) {
    if (in.Byte() % 4 == 0)
      return Invoke("RK350_SetSoftwareTrigger", false, &RK350_SetSoftwareTrigger, in);  // nulls, raw arguments
    const uint8_t choice = in.Byte();
    const auto on = static_cast<uint32_t>(choice < 120 ? 0 : choice < 240 ? 1 : in.Integer(4));
    const uint16_t result = RK350_SetSoftwareTrigger(on);
    if (!IsResultCode(result)) Violation("RK350_SetSoftwareTrigger", "not a result code", result);
    if (on > 1 && InstrumentPresent() && result != RK350_RESULT_INVALID_VALUE)
      Violation("RK350_SetSoftwareTrigger", "a value other than 0 and 1 was not refused", on);
    uint32_t now = 7;
    const uint16_t got = RK350_GetSoftwareTrigger(&now);
    if (result == RK350_RESULT_OK && (got != RK350_RESULT_OK || now != on))
      Violation("RK350_GetSoftwareTrigger", "does not answer what was set", now);
  });
  replace("RK350_GetValidRange", [](FuzzInput& in) {
    if (in.Byte() % 4 == 0)
      return Invoke("RK350_GetValidRange", false, &RK350_GetValidRange, in);  // nulls, raw arguments
    const auto channel = static_cast<uint16_t>(in.Integer(2));
    int32_t first = -7, count = -7;
    const uint16_t result = RK350_GetValidRange(channel, &first, &count);
    if (!IsResultCode(result)) Violation("RK350_GetValidRange", "not a result code", result);
    if (result != RK350_RESULT_OK) {
      if (first != -7 || count != -7) Violation("RK350_GetValidRange", "failing call wrote its answers", result);
      return;
    }
    if (channel < 1 || channel > 2) Violation("RK350_GetValidRange", "a channel other than 1 and 2 answered", channel);
    // Within the card's memory, whatever length the record had.
    if (first < 0 || count < 0 || static_cast<int64_t>(first) + count > 65536)
      Violation("RK350_GetValidRange", "positions outside any record", static_cast<double>(first) + count);
  });
  replace("RK350_GetOverrange", [](FuzzInput& in) {
    if (in.Byte() % 4 == 0)
      return Invoke("RK350_GetOverrange", false, &RK350_GetOverrange, in);  // nulls, raw arguments
    const auto channel = static_cast<uint16_t>(in.Integer(2));
    uint32_t overrange = 7;
    const uint16_t result = RK350_GetOverrange(channel, &overrange);
    if (!IsResultCode(result)) Violation("RK350_GetOverrange", "not a result code", result);
    if (result == RK350_RESULT_OK && overrange > 1)
      Violation("RK350_GetOverrange", "answer outside 0 and 1", overrange);
    if (result != RK350_RESULT_OK && overrange != 7)
      Violation("RK350_GetOverrange", "failing call wrote its answer", result);
  });
  // One tick of the engine's 6 ms timer, as the message pump would run it
  // when due (the pump itself runs on the host clock).
  ops.push_back({"EngineTick", [](FuzzInput&) {
                   if (gInstrument != nullptr && gInstrument->MeasureTimer && gInstrument->MeasureTimer->Enabled()) {
                     gInstrument->TimerDispatch();
                   }
                 }});
  return ops;
}

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = BuildOperations();
  return ops;
}

size_t OperationNumber(std::string_view name) {
  const auto& ops = Operations();
  for (size_t i = 0; i < ops.size(); ++i)
    if (ops[i].name == name) return i;
  std::fprintf(stderr, "no operation %.*s\n", static_cast<int>(name.size()), name.data());
  std::abort();
}

// ---- Start of every input --------------------------------------------------------

enum StartState : uint8_t { kReady, kLoaded, kAbsent, kClosed, kStale, kStateCount };

void StartFrom(StartState state) {
  ReturnToLoadedState();
  RK350_SetMessageBoxHandler(DiscardMessageBox, nullptr);
  card::VirtualCard& card = card::DefaultVirtualCard();
  card.Reset();
  card.SetBase(0x288);
  card.Eeprom().LoadImage(card::EepromImage::Default());
  card.Time().SetManual(1.0);
  card.Time().SetAutoStep(1e-5);
  switch (state) {
    case kReady:
      InitInstrument(0x288);
      break;
    case kAbsent:
      InitInstrument(0x300);
      break;
    case kClosed:
    case kStale:
      InitInstrument(0x288);
      ExitInstrument();
      if (state == kStale) InitInstrument(0x288);
      break;
    default:
      break;
  }
}

// ---- The seed corpus ---------------------------------------------------------------

struct Seed {
  const char* name;
  std::vector<uint8_t> bytes;
};

// An operation by name followed by its argument bytes.
void Add(std::vector<uint8_t>& seed, std::string_view op, std::initializer_list<uint8_t> args = {}) {
  seed.push_back(static_cast<uint8_t>(OperationNumber(op)));
  seed.insert(seed.end(), args.begin(), args.end());
}

// Argument bytes: entries of FuzzInput's tables and pointer choices.
constexpr uint8_t kInt0 = 0, kInt1 = 1, kInt2 = 2, kInt4 = 4, kInt5 = 5, kInt1000 = 17, kInt65519 = 18, kIntMinus1 = 26;
constexpr uint8_t kDbl0 = 0, kDbl1 = 2, kDbl05 = 4, kDbl2 = 7, kDbl100 = 11, kDbl1k = 12, kDbl1M = 13, kDbl50M = 14,
                  kDbl100M = 15, kDbl1e9 = 16, kDbl1e300 = 18, kDbl1e308 = 20, kDblInf = 23, kDblNaN = 25;
constexpr uint8_t kPointer = 1, kNull = 0;

std::vector<Seed> Seeds() {
  std::vector<Seed> seeds;
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetSensitivity", {kInt1, kPointer, kDbl2});
    Add(s, "SetSampleFrequencyF", {kPointer, kDbl1M});
    Add(s, "SetRecordLength", {kInt1000});
    Add(s, "ADC_Start");
    Add(s, "ADC_ForceTrig");
    Add(s, "ADC_Ready");
    Add(s, "ADC_Triggered");
    Add(s, "ADC_GetDataVoltCh", {kInt1, kPointer, kDbl0});
    Add(s, "ADC_GetData", {kPointer, 0, 0, kPointer, 0, 0});
    seeds.push_back({"block-measurement", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetTriggerTimeOut", {kInt0});
    Add(s, "SetMeasureMode", {kInt1});
    Add(s, "SetSampleFrequencyF", {kPointer, kDbl100M});  // interleaved
    Add(s, "StartMeasurement");
    Add(s, "GetMeasurement", {kPointer, kDbl0, kPointer, kDbl0});
    Add(s, "GetOneMeasurementRawCh", {kInt2, kInt1000, kPointer, 0, 0});
    Add(s, "GetMeasureMode", {kNull});
    seeds.push_back({"synchronous-measurement", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetFuncGenSignalType", {kInt0});
    Add(s, "SetFuncGenAmplitude", {kDbl1});
    Add(s, "SetFuncGenSymmetry", {kDbl100});
    Add(s, "SetFuncGenFrequency", {kPointer, kDbl1k});
    Add(s, "SetFuncGenOutputOn", {kInt1});
    Add(s, "FillFuncGenMemory", {kInt1000, kPointer, 7, 13});
    Add(s, "SetFuncGenSignalType", {kInt5});
    Add(s, "RK350Sim_GetGeneratorVolts", {kDbl1e300});
    Add(s, "RK350Sim_GetGeneratorOutput", {kPointer, 0, kPointer, 0, kPointer, 0});
    Add(s, "SetSquareWaveGenFrequency", {kPointer, 0xE8, 0x03});
    seeds.push_back({"generator", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetTriggerTimeOut", {kInt1000});
    Add(s, "DoMeasure", {kIntMinus1});
    for (int i = 0; i < 8; ++i) Add(s, "EngineTick");
    Add(s, "RK350_ProcessMessages");
    Add(s, "RK350_TakeMeasurementReady");
    Add(s, "GetMeasurementRaw", {kPointer, 0, 0, kPointer, 0, 0});
    Add(s, "DoMeasure", {kInt0});
    seeds.push_back({"continuous-engine", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetTriggerTimeOut", {kInt0});
    Add(s, "RK350Sim_SetFault", {kInt1});
    Add(s, "StartMeasurement");
    Add(s, "RK350Sim_SetFault", {kInt2});
    Add(s, "ADC_Start");
    Add(s, "EngineTick");
    Add(s, "RK350Sim_SetFault", {kInt0});
    Add(s, "StartMeasurement");
    seeds.push_back({"card-faults", s});
  }
  {
    std::vector<uint8_t> s{kLoaded};
    Add(s, "GetSerialNumber", {kPointer, 0, 0});
    Add(s, "InitInstrument", {0});
    Add(s, "ExitInstrument");
    Add(s, "InitInstrument", {0});
    Add(s, "GetCalibrationDate", {kPointer, 0, 0});
    Add(s, "ExitInstrument");
    Add(s, "InitInstrument", {210});
    seeds.push_back({"lifecycle", s});
  }
  {
    std::vector<uint8_t> s{kLoaded};
    Add(s, "RK350Sim_SetManualTime", {kDbl0});
    Add(s, "RK350Sim_SetAutoTimeStep", {kDbl1e308});
    Add(s, "InitInstrument", {0});
    Add(s, "SetTriggerTimeOut", {kInt0});
    Add(s, "StartMeasurement");
    Add(s, "RK350Sim_AdvanceTime", {kDblInf});
    Add(s, "ADC_Start");
    Add(s, "ADC_Ready");
    Add(s, "RK350Sim_SetManualTime", {kDblNaN});
    seeds.push_back({"card-time-limits", s});
  }
  {
    std::vector<uint8_t> s{kLoaded};
    Add(s, "RK350Sim_SetEepromVariant", {kInt4});
    Add(s, "InitInstrument", {0});
    Add(s, "GetFunctionGenStatus");
    Add(s, "ExitInstrument");
    Add(s, "RK350Sim_LoadEepromImage", {kInt65519, kPointer, 0x55, 0x11});
    Add(s, "RK350_SetPortFunctions", {1});
    Add(s, "RK350Sim_InjectBusFault", {kInt1000});
    seeds.push_back({"eeprom-images", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "RK350Sim_SetInputSource", {kInt1, kPointer, 2, kDbl05, kDbl1k, kDbl0, kDbl0, kDbl0, 1});
    Add(s, "SetTriggerSource", {kInt0});
    Add(s, "SetTriggerModeCh", {kInt1, kInt1});
    Add(s, "SetTriggerLevel", {kInt1, kDbl0});
    Add(s, "SetTriggerHys", {kInt1, kDbl05});
    Add(s, "SetAutoRanging", {kInt1, kInt1});
    Add(s, "SetCoupling", {kInt2, kInt1});
    Add(s, "SetDcLevel", {kInt1, kDblNaN});
    Add(s, "StartMeasurement");
    seeds.push_back({"trigger-and-inputs", s});
  }
  return seeds;
}

// Inputs that once failed: the card's arithmetic at the end of its clock
// (a status read, and the generator's output), and a status read after a
// jump of card time over a quiet input, which once scanned every sample.
std::vector<Seed> Regressions() {
  std::vector<Seed> inputs;
  {
    std::vector<uint8_t> s{kLoaded};
    Add(s, "RK350Sim_SetManualTime", {kDbl0});
    Add(s, "RK350Sim_SetAutoTimeStep", {kDbl1e308});
    Add(s, "InitInstrument", {0});
    Add(s, "ADC_Start");
    Add(s, "ADC_Ready");
    inputs.push_back({"status-read-at-infinite-card-time", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetFuncGenFrequency", {kPointer, kDbl1k});
    Add(s, "SetFuncGenOutputOn", {kInt1});
    Add(s, "RK350Sim_GetGeneratorVolts", {kDbl1e300});
    Add(s, "RK350Sim_GetGeneratorVolts", {kDblInf});
    inputs.push_back({"generator-output-at-late-times", s});
  }
  {
    std::vector<uint8_t> s{kReady};
    Add(s, "SetSampleFrequencyF", {kPointer, kDbl50M});
    Add(s, "ADC_Start");
    Add(s, "RK350Sim_SetManualTime", {kDbl1e9});
    Add(s, "ADC_Ready");
    inputs.push_back({"status-read-after-a-long-jump", s});
  }
  return inputs;
}

void WriteInputs(const std::string& directory, const std::vector<Seed>& inputs) {
  for (const Seed& seed : inputs) {
    const std::string path = directory + "/" + seed.name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
  }
}

// Writes DIR/seeds and DIR/regressions (the directories must exist).
void WriteSeeds(const char* directory) {
  WriteInputs(std::string(directory) + "/seeds", Seeds());
  WriteInputs(std::string(directory) + "/regressions", Regressions());
  std::printf("wrote %zu seeds and %zu regression inputs to %s (%zu operations)\n", Seeds().size(),
              Regressions().size(), directory, Operations().size());
}

}  // namespace
}  // namespace rk350::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rk350::platform::SetMillisecondClock(rk350::fuzz::SimulatedClock);
  rk350::platform::SetTimerClockForTesting([] { return rk350::fuzz::SimulatedClock() * 1000000; });
  if (const char* dir = std::getenv("RK350_FUZZ_WRITE_SEEDS")) {
    rk350::fuzz::WriteSeeds(dir);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rk350::fuzz;
  FuzzInput in(data, size);
  StartFrom(static_cast<StartState>(in.Byte() % kStateCount));
  const auto& ops = Operations();
  while (!in.Empty()) ops[in.Byte() % ops.size()].run(in);
  rk350::ReturnToLoadedState();
  return 0;
}
