// The arithmetic of front-end programming, apart from the register traffic:
// which input and which calibration values each converter path uses, the
// relay byte of a range, and the offset DAC codes of a DC level.
#pragma once

#include <cstdint>

#include "instrument/trk350.h"

namespace rk350::front_end {

// How one converter path is fed. Without interleave each path digitises its
// own channel. Interleaved, both paths digitise the one measured channel: the
// crossed path takes range, DC level, gain and step sizes from that source
// channel, but its trim value and offset zero from its own channel's record
// (the interleave columns, at the source's range).
struct PathRouting {
  bool writeDacs = true;  // false: interleaved without a single source, relays only
  int source = 1;         // channel whose range and DC level the path follows
  bool crossed = false;   // the path digitises the other channel's input
};
PathRouting RoutePath(bool interleaved, TMeasureMode mode, int path);

// The coarse and fine offset DAC settings for a DC level, before limiting.
struct OffsetCodes {
  int32_t fine = 0;
  int32_t coarse = 0;
};

// Calibration of one channel at one range, as the offset arithmetic uses it.
struct OffsetCalibration {
  uint16_t dcGain = 0;
  uint16_t dcStep = 0;   // one coarse step, in hundredths
  uint16_t dcScale = 0;  // span of the fine DAC (256 counts), in fiftieths
};

// Offset DAC codes for DC level `volts` at full scale `fullScale` with offset
// zero `zero`. An erased step or span (0) cannot be divided by: the DACs
// then get their mid-scale codes.
OffsetCodes ComputeOffsetCodes(Extended volts, Extended fullScale, Extended zero, const OffsetCalibration& cal);

inline constexpr OffsetCodes kMidScaleOffset = {128, 127};
inline constexpr int32_t kMaxCoarseSteps = 254;

}  // namespace rk350::front_end
