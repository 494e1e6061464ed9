// Programming the input front end: offset and trim DACs from the settings
// and the card's calibration, then the relay latch, path 1 before path 2.
#include <cmath>

#include "instrument/front_end_calibration.h"
#include "instrument/trk350.h"

namespace rk350 {

namespace front_end {

PathRouting RoutePath(bool interleaved, TMeasureMode mode, int path) {
  PathRouting routing;
  routing.source = path;
  if (!interleaved) return routing;
  if (mode == mCh1) {
    routing.source = 1;
    routing.crossed = path == 2;
  } else if (mode == mCh2) {
    routing.source = 2;
    routing.crossed = path == 1;
  } else {
    routing.writeDacs = false;
  }
  return routing;
}

OffsetCodes ComputeOffsetCodes(Extended volts, Extended fullScale, Extended zero, const OffsetCalibration& cal) {
  if (cal.dcStep == 0 || cal.dcScale == 0) return kMidScaleOffset;

  const Extended target = -4.0L * cal.dcGain * volts / fullScale + zero;

  // Whole coarse steps not exceeding the target, counted by adding step
  // after step; the remainder below one step goes to the fine DAC.
  const Extended step = cal.dcStep / 100.0L;
  Extended sum = 0;
  int k = 0;
  do {
    ++k;
    sum += step;
  } while (!(sum > target) && k < kMaxCoarseSteps + 1);
  const int32_t coarse = k - 1;
  sum -= step;

  const Extended span = cal.dcScale / 50.0L;
  Extended fine = std::nearbyint((target + 10.0L - sum) * 256.0L / span);
  // Limit before converting: the DAC takes 0..255 anyway.
  if (!(fine >= -1.0L)) fine = -1.0L;
  if (fine > 256.0L) fine = 256.0L;
  return {static_cast<int32_t>(fine), coarse};
}

}  // namespace front_end

namespace {
int ValidRange(uint16_t range) { return range >= 1 && range <= 12 ? range : 6; }
}  // namespace

void TRK350::ComputeOffset(int source, int path, Extended volts, Extended zero) {
  const int range = ValidRange(RangeIndex[source]);
  const front_end::OffsetCalibration cal{DcGain[source][range], DcStep[source][range], DcScale[source][range]};
  const auto codes = front_end::ComputeOffsetCodes(volts, Sensitivities[range], zero, cal);
  WriteOffsetDacs(path, codes.fine, codes.coarse);
}

void TRK350::ApplyOffset(int path) {
  const auto routing = front_end::RoutePath(Interleaved, mMeasureMode, path);
  if (!routing.writeDacs) return;
  const int range = ValidRange(RangeIndex[routing.source]);
  const uint16_t zero = routing.crossed ? InterleaveDcZero[path][range] : DcZero[path][range];
  ComputeOffset(routing.source, path, DcLevel[routing.source], zero);
}

void TRK350::ApplyTrim(int path) {
  const auto routing = front_end::RoutePath(Interleaved, mMeasureMode, path);
  if (!routing.writeDacs) return;
  const int range = ValidRange(RangeIndex[routing.source]);
  WriteTrimDacs(path, routing.crossed ? InterleaveOffsetTrim[path][range] : OffsetTrim[path][range]);
}

uint8_t TRK350::RelayByte(int path) const {
  // Always the path's own range and coupling.
  uint8_t b = regs::kRangeRelayBits[ValidRange(RangeIndex[path])];
  if (Coupling[path] == 1) b |= regs::kRelayAcCoupling;
  if (Interleaved && ((mMeasureMode == mCh1 && path == 2) || (mMeasureMode == mCh2 && path == 1))) {
    b |= regs::kRelayInterleave;
  }
  return b;
}

void TRK350::ApplyChannelFrontEnd(int path) {
  ApplyOffset(path);
  ApplyTrim(path);
  ShiftFrontEndByte(RelayByte(path), path == 2 ? regs::kStrobeLatchPath2 : regs::kStrobeLatchPath1);
}

void TRK350::ApplyFrontEnd() {
  ApplyChannelFrontEnd(1);
  ApplyChannelFrontEnd(2);
}

}  // namespace rk350
