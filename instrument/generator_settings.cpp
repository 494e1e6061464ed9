// Generator settings: store-only placeholders until the generator programs
// the card from them.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetGenOutputOn(bool on) { GenOutputOn = on; }
void TRK350::SetGenSignalType(uint8_t type) { GenSignalType = type; }
void TRK350::SetGenFrequency(Extended hertz) { GenFrequency = hertz; }
void TRK350::SetGenAmplitude(Extended volts) { GenAmplitude = volts; }
void TRK350::SetGenDCOffset(Extended volts) { GenDCOffset = volts; }
void TRK350::SetGenSymmetry(Extended symmetry) { GenSymmetry = symmetry; }

}  // namespace rk350
