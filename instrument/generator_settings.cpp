// Placeholder for the generator layer: switching the output only records the
// state until the generator programs the card.
#include "instrument/trk350.h"

namespace rk350 {

void TRK350::SetGenOutputOn(bool on) { GenOutputOn = on; }

}  // namespace rk350
