#include "card/front_end_model.h"

#include "hardware/register_map.h"

namespace rk350::card {

namespace {
namespace L = eeprom_layout;

// The calibrated ranges 3..12 the card's front end is built for, by their
// full scale; each is recognised by its relay byte in the register map.
struct RelayRange {
  int range;
  double fullScale;
};
constexpr RelayRange kRelayRanges[] = {
    {3, 0.1}, {4, 0.2}, {5, 0.4}, {6, 0.8}, {7, 2.0}, {8, 4.0}, {9, 8.0}, {10, 20.0}, {11, 40.0}, {12, 80.0},
};
constexpr uint8_t kRelayRangeBits = static_cast<uint8_t>(~(regs::kRelayAcCoupling | regs::kRelayInterleave));

constexpr uint8_t kDacSelect[2] = {regs::kSelectDacPath1, regs::kSelectDacPath2};
constexpr uint8_t kLatchStrobe[2] = {regs::kStrobeLatchPath1, regs::kStrobeLatchPath2};
constexpr int kTrimCountsPerLsb = 8;  // one 8-bit converter step = S/128
constexpr double kVoltsPerTrimCountPerFullScale = 1.0 / (128.0 * kTrimCountsPerLsb);

const EepromImage& DefaultCalibration() {
  static const EepromImage image = EepromImage::Default();
  return image;
}
}  // namespace

FrontEndModel::FrontEndModel() { Reset(); }

void FrontEndModel::Reset() {
  select_ = 0;
  lines_ = 0;
  relayShift_ = 0;
  bus_ = {};
  paths_ = {};
  for (auto& p : paths_) p.relayLatch = kPowerOnRelay;
}

void FrontEndModel::UseCalibration(const EepromImage* image) { calibration_ = image; }

void FrontEndModel::OnRegisterWrite(uint8_t index, uint8_t value) {
  if (index != regs::kRegSerialSelect && index != regs::kRegSerialLines) return;
  if (index == regs::kRegSerialSelect) OnSelectWrite(value);
  if (index == regs::kRegSerialLines) OnLinesWrite(value);
  trace_.OnWrite(select_, lines_);
}

void FrontEndModel::OnSelectWrite(uint8_t value) {
  for (int p = 0; p < 2; ++p) {
    const bool wasSelected = (select_ & kDacSelect[p]) == 0;
    const bool selected = (value & kDacSelect[p]) == 0;
    if (!wasSelected && selected) bus_[p] = {};  // a new word begins
    if (wasSelected && !selected) {
      // The select rising ends the word.
      if (bus_[p].bits == regs::kFrontEndDacWordBits) {
        const int address = (bus_[p].shift >> 8) & 7;
        paths_[p].dac[address] = static_cast<uint8_t>(bus_[p].shift & 0xFF);
        paths_[p].dacWritten[address] = true;
        ++paths_[p].wordsReceived;
      } else if (bus_[p].bits != 0) {
        ++paths_[p].framingErrors;
      }
      bus_[p] = {};
    }
    const bool strobeRises = (select_ & kLatchStrobe[p]) == 0 && (value & kLatchStrobe[p]) != 0;
    if (strobeRises) paths_[p].relayLatch = relayShift_;
  }
  select_ = value;
}

void FrontEndModel::OnLinesWrite(uint8_t value) {
  const bool clockRises = (lines_ & regs::kFrontEndClock) == 0 && (value & regs::kFrontEndClock) != 0;
  lines_ = value;
  if (!clockRises) return;
  const int bit = (value & regs::kFrontEndData) != 0 ? 1 : 0;
  relayShift_ = static_cast<uint8_t>(relayShift_ << 1 | bit);
  for (int p = 0; p < 2; ++p) {
    if ((select_ & kDacSelect[p]) != 0) continue;
    bus_[p].shift = static_cast<uint16_t>((bus_[p].shift << 1 | bit) & 0x7FF);
    ++bus_[p].bits;
  }
}

int FrontEndModel::RangeOfRelay(uint8_t relay) {
  for (const auto& r : kRelayRanges) {
    if (regs::kRangeRelayBits[r.range] == (relay & kRelayRangeBits)) return r.range;
  }
  return 0;
}

double FrontEndModel::FullScaleOfRange(int range) {
  for (const auto& r : kRelayRanges) {
    if (r.range == range) return r.fullScale;
  }
  return 0;
}

PathAnalogState FrontEndModel::Path(int path) const {
  path = path == 2 ? 2 : 1;
  const auto& own = paths_[Index(path)];
  PathAnalogState state;
  // With the interleave relay the converter takes the other input, after
  // that input's own attenuator and coupling.
  state.inputChannel = (own.relayLatch & regs::kRelayInterleave) != 0 ? 3 - path : path;
  const uint8_t inputRelay = paths_[Index(state.inputChannel)].relayLatch;
  const int range = RangeOfRelay(inputRelay);
  state.fullScaleVolts = FullScaleOfRange(range);
  state.acCoupled = (inputRelay & regs::kRelayAcCoupling) != 0;
  state.offsetVolts = range != 0 ? DecodedOffset(path, state.inputChannel, range, state.fullScaleVolts) : 0.0;
  return state;
}

double FrontEndModel::DecodedOffset(int path, int input, int range, double fullScale) const {
  const EepromImage& image = calibration_ != nullptr ? *calibration_ : DefaultCalibration();
  const auto& state = paths_[Index(path)];
  const bool crossed = input != path;
  const uint16_t own = L::ChannelRecord(path, range);
  double offset = 0;

  // Offset DACs: until all three have been loaded the path sits at zero.
  const auto& w = state.dacWritten;
  if (w[regs::kDacCoarseDown] && w[regs::kDacCoarseUp] && w[regs::kDacFine]) {
    const uint16_t source = L::ChannelRecord(input, range);
    const double gain = image.Word(source + L::kRecDcGain);
    const double step = image.Word(source + L::kRecDcStep) / 100.0;
    const double span = image.Word(source + L::kRecDcScale) / 50.0;
    const double zero = image.Word(own + (crossed ? L::kRecInterleaveDcZero : L::kRecDcZero));
    // The two coarse DACs run in opposite directions; their mean is the step
    // count.
    const double coarse = (state.dac[regs::kDacCoarseUp] + 1 + 254 - state.dac[regs::kDacCoarseDown]) / 2.0;
    const double fine = 255 - state.dac[regs::kDacFine];
    const double target = coarse * step + fine * span / 256.0 - 10.0;
    if (gain != 0) offset = (zero - target) * fullScale / (4.0 * gain);
  }

  if (w[regs::kDacTrimLow] && w[regs::kDacTrimHigh]) {
    const double calibrated = image.Byte(own + (crossed ? L::kRecInterleaveOffsetTrim : L::kRecOffsetTrim));
    const double trim = (state.dac[regs::kDacTrimHigh] + 255 - state.dac[regs::kDacTrimLow]) / 2.0;
    offset += (trim - calibrated) * fullScale * kVoltsPerTrimCountPerFullScale;
  }
  return offset;
}

}  // namespace rk350::card
