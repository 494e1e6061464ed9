// The bench's XY view: CH1 across, CH2 up, at the positions where both hold
// a sample.
"use strict";

const xyView = {
  draw(context, g, frame, readout) {
    const a = benchChannel(frame, "CH1");
    const b = benchChannel(frame, "CH2");
    const size = Math.min(g.right - g.left, g.bottom - g.top);
    const cx = (g.left + g.right) / 2, cy = (g.top + g.bottom) / 2;
    context.strokeStyle = "#333";
    for (let i = 0; i <= 8; i++) {
      const p = -size / 2 + (i / 8) * size;
      context.beginPath(); context.moveTo(cx + p, cy - size / 2); context.lineTo(cx + p, cy + size / 2); context.stroke();
      context.beginPath(); context.moveTo(cx - size / 2, cy + p); context.lineTo(cx + size / 2, cy + p); context.stroke();
    }
    if (!a || !b) {
      readout.textContent = "XY needs both channels on";
      return;
    }
    const sx = a.range || 1, sy = b.range || 1;
    context.fillStyle = BENCH_COLOURS.math;
    let points = 0;
    for (let i = 0; i < a.volts.length; i++) {
      if (a.volts[i] === null || b.volts[i] === null) continue;
      context.fillRect(cx + (a.volts[i] / sx) * (size / 2), cy - (b.volts[i] / sy) * (size / 2), g.ratio, g.ratio);
      points++;
    }
    readout.dataset.points = String(points);
    readout.textContent = `X: CH1 ±${benchFormat(sx, "V")}   Y: CH2 ±${benchFormat(sy, "V")}   ${points} points`;
  },
};

bench.views.xy = xyView;
