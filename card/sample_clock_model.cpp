#include "card/sample_clock_model.h"

#include "hardware/register_map.h"

namespace rk350::card {

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
      if ((command_ & regs::kCommandLoadCounter) == 0 && (value & regs::kCommandLoadCounter) != 0) {
        loadedReload_ = static_cast<uint16_t>(reloadHigh_ << 8 | reloadLow_);
      }
      command_ = value;
      break;
    default:
      break;
  }
}

double SampleClockModel::PrescalerDivisor(int code) {
  return code >= 1 && code <= regs::kLastPrescaler ? regs::kPrescalerDivisor[code] : 0;
}

uint32_t SampleClockModel::CounterDivider() const {
  const uint32_t n = (0x10001u - loadedReload_) & 0xFFFFu;
  return n == 0 ? 0x10000u : n;
}

double SampleClockModel::ConverterClockHz() const {
  const uint8_t select = select_ & static_cast<uint8_t>(~regs::kClockSelectReadout);
  switch (select) {
    case regs::kClockSelect50MHz:
      return kBaseClockHz;
    case regs::kClockSelect25MHz:
      return kBaseClockHz / 2;
    case regs::kClockSelect10MHz:
      return kBaseClockHz / 5;
    case regs::kClockSelect5MHz:
      return kBaseClockHz / 10;
    default:
      break;
  }
  const uint8_t group = select & regs::kClockSelectGroupMask;
  const double divisor = PrescalerDivisor(select & regs::kClockSelectPrescalerMask);
  if ((group != regs::kClockSelectFastCounter && group != regs::kClockSelectSlowCounter) || divisor == 0) return 0;
  return kBaseClockHz / 2 / divisor / CounterDivider();
}

}  // namespace rk350::card
