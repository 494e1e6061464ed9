// How the generator's calibration tables describe its level DAC ladders. A
// coarse code k belongs to a segment (a column of the amplitude and offset
// step tables, 1..15); where it sits in its group of 16 codes picks the row:
// rows 0..3 hold the step up to code k, rows 4..6 the span of the fine DAC at
// code k (the amplitude and the offset ladders use rows 4..6 in a different
// order). Shared by the library's level arithmetic and the virtual card.
#pragma once

namespace rk350::gen_ladder {

// The segment of a DAC code; the division truncates toward zero.
constexpr int CodeSegment(int k) {
  const int h = (k - 3) / 16 + 1;
  return h < 1 ? 1 : (h > 15 ? 15 : h);
}

constexpr int Mod16(int k) { return ((k % 16) + 16) % 16; }

// Row of the step from one coarse code to the next.
constexpr int StepRow(int k) {
  if (Mod16(k + 1) == 0) return 1;
  if (Mod16(k - 1) == 0) return 2;
  if (Mod16(k - 2) == 0) return 3;
  return 0;
}

// Row of the fine DAC's span at a coarse code, amplitude ladder.
constexpr int AmpSpanRow(int k) {
  if (Mod16(k + 1) == 0) return 5;
  if (Mod16(k) == 0) return 6;
  return 4;
}

// Row of the fine DAC's span at a coarse code, offset ladder.
constexpr int OffsetSpanRow(int k) {
  if (Mod16(k + 1) == 0) return 4;
  if (Mod16(k) == 0) return 5;
  return 6;
}

}  // namespace rk350::gen_ladder
