// The bench's XY view: CH1 across, CH2 up, each over its own range, at the
// positions where both hold a sample.
import { formatTicks, formatValue } from "./format.js";
import { COLOURS, clipToPlot, drawAxis, geometry, publishAxes } from "./plot.js";

const DIVISIONS = 8;

// Eight divisions of ±range, every other one labelled.
function divisions(range) {
  const ticks = [];
  for (let d = 0; d <= DIVISIONS; d++) ticks.push(range * ((2 * d) / DIVISIONS - 1));
  const named = formatTicks(ticks.filter((_, d) => d % 2 === 0), "V");
  return { ticks, labels: ticks.map((_, d) => (d % 2 === 0 ? named[d / 2] : "")) };
}

export function drawXy(canvas, frame, readout) {
  const context = canvas.getContext("2d");
  const outer = geometry(canvas, { left: 76, right: 24, top: 10, bottom: 40 });
  context.clearRect(0, 0, outer.width, outer.height);
  // A square plot in the middle of the room the margins leave.
  const size = Math.min(outer.plotWidth, outer.plotHeight);
  const left = outer.left + (outer.plotWidth - size) / 2;
  const g = { ...outer, left, right: left + size, plotWidth: size, bottom: outer.top + size, plotHeight: size };
  const a = frame.channels.find((c) => c.name === "CH1"), b = frame.channels.find((c) => c.name === "CH2");
  const sx = (a && a.range) || 1, sy = (b && b.range) || 1;
  const across = divisions(sx), up = divisions(sy);
  const xOf = (v) => g.left + ((v / sx + 1) / 2) * size, yOf = (v) => g.bottom - ((v / sy + 1) / 2) * size;
  const axes = [
    drawAxis(context, g, { side: "bottom", ...across, positionOf: xOf, title: "CH1 volts", colour: COLOURS.CH1 }),
    drawAxis(context, g, { side: "left", ...up, positionOf: yOf, title: "CH2 volts", colour: COLOURS.CH2 }),
  ];
  publishAxes(canvas, axes, "CH2 over CH1");
  if (!a || !b) {
    readout.textContent = "XY needs both channels on";
    readout.dataset.points = "0";
    return;
  }
  clipToPlot(context, g);
  context.fillStyle = COLOURS.math;
  let points = 0;
  for (let i = 0; i < a.volts.length; i++) {
    if (a.volts[i] === null || b.volts[i] === null) continue;
    context.fillRect(xOf(a.volts[i]), yOf(b.volts[i]), g.ratio, g.ratio);
    points++;
  }
  context.restore();
  readout.dataset.points = String(points);
  readout.textContent = `X: CH1 ±${formatValue(sx, "V")}   Y: CH2 ±${formatValue(sy, "V")}   ${points} points`;
}
