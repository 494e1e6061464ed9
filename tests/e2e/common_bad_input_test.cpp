// Every export of the headers, called with zero, 0.0 and null arguments in
// each state of the library and in both orders: each returns its answer and
// nothing crashes (ASan and UBSan watch the sanitizer build). The list of
// calls is generated from the headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "e2e/e2e_support.h"
#include "rk350/rk350.h"
#include "rk350/rk350_ext.h"
#if defined(RK350_E2E_VIRTUAL_FLAVOUR)
#include "rk350/rk350_sim.h"
#endif

namespace rk350::e2e {
namespace {

struct Answer {
  bool returned = false;  // a value came back (not a void export)
  int64_t integer = 0;
  double real = 0;
  bool isReal = false;
};

template <typename F>
Answer Invoke(F call) {
  using R = decltype(call());
  Answer a;
  if constexpr (std::is_void_v<R>) {
    call();
  } else if constexpr (std::is_floating_point_v<R>) {
    a = {true, 0, call(), true};
  } else if constexpr (std::is_pointer_v<R>) {
    a = {true, call() != nullptr ? 1 : 0, 0, false};
  } else {
    a = {true, static_cast<int64_t>(call()), 0, false};
  }
  return a;
}

struct ExportCall {
  const char* name;
  std::string header;
  Answer (*call)();
};

#define RK350_EXPORT_CALL(name, header, kind, args) {#name, header, [] { return Invoke([] { return name args; }); }},
#define RK350_SIM_EXPORT_CALL(name, kind, args) {#name, "rk350_sim.h", [] { return Invoke([] { return name args; }); }},
const ExportCall kCalls[] = {
#if !defined(RK350_E2E_VIRTUAL_FLAVOUR)
#undef RK350_SIM_EXPORT_CALL
#endif
#include "generated/export_calls.inc"
};

// The lifecycle, the message-box handler and the port pair are driven by the
// tests themselves.
const std::set<std::string> kDrivenByTheTest = {"InitInstrument", "ExitInstrument", "RK350_SetMessageBoxHandler",
                                                "RK350_SetPortFunctions"};

// Answers without a found card: ResultNoInstrument (1) unless listed.
const std::map<std::string, int64_t> kAnswersWithoutCard = {
    {"GetOhmValues", 4},
    {"GetActiveQV5", 4},
    {"SetActiveQV5", 4},
    {"SetDAC1451", 4},
    {"SetMotorOn", 4},
    {"SetFuncGenAmplitudeRange", 4},
    {"GetFuncGenAmplitudeRange", 4},
    {"SetFuncGenMode", 4},
    {"GetFuncGenMode", 4},
    {"GetMaxSampleFrequency", 0},
    {"GetMaxRecordLength", 0},
    {"GetSampleFrequency", 0},
    {"ADC_Running", 0},
    {"ADC_Triggered", 0},
    {"ADC_Ready", 0},
    {"GetRecordLength", 0},
    {"GetPostSamples", 0},
    {"GetSquareWaveGenFrequency", 0},
    {"GetMaxSampleFrequencyF", 0},
    {"GetSampleFrequencyF", 0},
};

// Exports that test the instrument's kind before its card: with an
// instrument but no card they answer ResultNotAvailable.
const std::set<std::string> kKindCheckedBeforeCard = {"SetTransferMode", "GetTransferMode"};

bool IsResultCode(int64_t v) { return v == 0 || v == 1 || v == 2 || v == 4 || v == 8 || v == 16 || v == 32; }

enum class Order { Forward, Backward };

void Sweep(const char* state, bool cardFound, Order order, bool instrumentExists) {
  std::vector<const ExportCall*> calls;
  for (const auto& c : kCalls) {
    if (!kDrivenByTheTest.count(c.name)) calls.push_back(&c);
  }
  if (order == Order::Backward) std::reverse(calls.begin(), calls.end());
  for (const ExportCall* c : calls) {
    SCOPED_TRACE(::testing::Message() << state << ": " << c->name);
    const Answer a = c->call();
    if (c->header != "rk350.h" || !a.returned) continue;
    if (!cardFound) {
      const auto it = kAnswersWithoutCard.find(c->name);
      int64_t expected = it != kAnswersWithoutCard.end() ? it->second : 1;
      if (instrumentExists && kKindCheckedBeforeCard.count(c->name)) expected = 4;
      if (a.isReal) {
        EXPECT_EQ(a.real, static_cast<double>(expected));
      } else {
        EXPECT_EQ(a.integer, expected);
      }
    } else if (!a.isReal && std::string(c->name).rfind("Set", 0) == 0) {
      // Setters given zeros answer with one of the result codes.
      EXPECT_TRUE(IsResultCode(a.integer)) << a.integer;
    }
  }
}

void SweepBothOrders(const char* state, bool cardFound, bool instrumentExists = false) {
  Sweep(state, cardFound, Order::Forward, instrumentExists);
  Sweep(state, cardFound, Order::Backward, instrumentExists);
}

TEST(BadInput, EveryExportBeforeInitInstrument) { SweepBothOrders("loaded", false); }

TEST(BadInput, EveryExportAfterAFailedInitInstrument) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kEmptyBase), RK350_RESULT_NO_INSTRUMENT);
  SweepBothOrders("absent", false, true);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
  SweepBothOrders("loaded again", false);
}

TEST(BadInput, EveryExportAfterExitInstrument) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  ASSERT_EQ(ExitInstrument(), RK350_RESULT_OK);
  SweepBothOrders("closed", false);
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_NO_INSTRUMENT);
  SweepBothOrders("stale", false, true);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

TEST(BadInput, EveryExportWithZerosAndNullsOnAFoundCard) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kCardBase), RK350_RESULT_OK);
  SweepBothOrders("ready", true, true);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

TEST(BadInput, PortPairRefusedWhileAnInstrumentExists) {
  ProvideCard();
  ASSERT_EQ(InitInstrument(kEmptyBase), RK350_RESULT_NO_INSTRUMENT);
  EXPECT_EQ(RK350_SetPortFunctions(nullptr, nullptr, nullptr), RK350_RESULT_NOT_AVAILABLE);
  EXPECT_EQ(ExitInstrument(), RK350_RESULT_OK);
}

}  // namespace
}  // namespace rk350::e2e
