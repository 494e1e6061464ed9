#include "card/generator_model.h"

namespace rk350::card {

GeneratorModel::GeneratorModel() { Reset(); }

void GeneratorModel::Reset() {}

void GeneratorModel::OnRegisterWrite(uint8_t /*index*/, uint8_t /*value*/) {}

double GeneratorModel::OutputVolts(double /*timeSeconds*/) const { return 0.0; }

}  // namespace rk350::card
