#include "card/sample_clock_model.h"

#include "hardware/register_map.h"

namespace rk350::card {

namespace {
constexpr double kPrescaler[16] = {0,   5,    10,   20,    40,    80,      160,      320,
                                   640, 1280, 5120, 20480, 81920, 1310720, 20971520, 335544320};
constexpr uint8_t kCommandLoadCounter = 0x01;
}  // namespace

void SampleClockModel::Reset() {
  select_ = 0;
  mode_ = 0;
  reloadLow_ = reloadHigh_ = 0;
  command_ = 0;
  loadedReload_ = 0;
}

void SampleClockModel::OnRegisterWrite(uint8_t index, uint8_t value) {
  switch (index) {
    case regs::kRegClockSelect:
      select_ = value;
      break;
    case regs::kRegClockReloadLow:
      reloadLow_ = value;
      break;
    case regs::kRegClockReloadHigh:
      reloadHigh_ = value;
      break;
    case regs::kRegClockMode:
      mode_ = value;
      break;
    case regs::kRegCommand:
      if ((command_ & kCommandLoadCounter) == 0 && (value & kCommandLoadCounter) != 0) {
        loadedReload_ = static_cast<uint16_t>(reloadHigh_ << 8 | reloadLow_);
      }
      command_ = value;
      break;
    default:
      break;
  }
}

double SampleClockModel::PrescalerDivisor(int code) { return code >= 1 && code <= 15 ? kPrescaler[code] : 0; }

uint32_t SampleClockModel::CounterDivider() const {
  const uint32_t n = (0x10001u - loadedReload_) & 0xFFFFu;
  return n == 0 ? 0x10000u : n;
}

double SampleClockModel::ConverterClockHz() const {
  const uint8_t select = select_ & static_cast<uint8_t>(~kSelectReadout);
  switch (select) {
    case 0x0F:
      return kBaseClockHz;
    case 0x10:
      return kBaseClockHz / 2;
    case 0x11:
      return kBaseClockHz / 5;
    case 0x12:
      return kBaseClockHz / 10;
    default:
      break;
  }
  const uint8_t group = select & 0x30;
  const double divisor = PrescalerDivisor(select & 0x0F);
  if ((group != 0x20 && group != 0x30) || divisor == 0) return 0;
  return kBaseClockHz / 2 / divisor / CounterDivider();
}

}  // namespace rk350::card
