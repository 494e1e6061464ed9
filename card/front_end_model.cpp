#include "card/front_end_model.h"

namespace rk350::card {

FrontEndModel::FrontEndModel() { Reset(); }

void FrontEndModel::Reset() {}

void FrontEndModel::OnRegisterWrite(uint8_t /*index*/, uint8_t /*value*/) {}

PathAnalogState FrontEndModel::Path(int path) const {
  PathAnalogState state;
  state.inputChannel = path == 2 ? 2 : 1;
  return state;
}

}  // namespace rk350::card
