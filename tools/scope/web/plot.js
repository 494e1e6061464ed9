// What every plot of the page shares: the canvas at the screen's pixel
// density, the plot's frame inside its margins, ticks at round values and
// axes drawn with their labels and titles.
import { formatTicks } from "./format.js";

export const COLOURS = { CH1: "#f5c211", CH2: "#33c7de", math: "#e05bd5", cursor: "#e6e6e6", grid: "#2a3038",
                         text: "#8a939e", error: "#ff6b5e" };
export const FONT = '"DejaVu Sans", sans-serif';

// The canvas's drawing buffer follows its size on the page; the plot sits
// inside `margin` (CSS pixels). Positions in `g` are buffer pixels.
export function geometry(canvas, margin) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const left = margin.left * ratio, top = margin.top * ratio;
  const right = width - margin.right * ratio, bottom = height - margin.bottom * ratio;
  return { ratio, width, height, left, top, right, bottom, plotWidth: right - left, plotHeight: bottom - top };
}

// The pointer's position in buffer pixels.
export function pointerIn(canvas, g, event) {
  const r = canvas.getBoundingClientRect();
  return { x: (event.clientX - r.left) * g.ratio, y: (event.clientY - r.top) * g.ratio };
}

export function inPlot(g, x, y) {
  return x >= g.left && x <= g.right && y >= g.top && y <= g.bottom;
}

export function clipToPlot(context, g) {
  context.save();
  context.beginPath();
  context.rect(g.left, g.top, g.plotWidth, g.plotHeight);
  context.clip();
}

// The 1-2-5 step that puts at most `most` ticks on a span.
export function niceStep(span, most) {
  const rough = span / Math.max(1, most);
  const decade = Math.pow(10, Math.floor(Math.log10(rough)));
  for (const factor of [1, 2, 5]) if (factor * decade >= rough * (1 - 1e-9)) return factor * decade;
  return 10 * decade;
}

// Round values from low to high, `step` apart (0 among them when it lies within).
export function linearTicks(low, high, step) {
  const ticks = [];
  for (let n = Math.ceil(low / step - 1e-9); n * step <= high + step * 1e-9; n++)
    ticks.push(n * step === 0 ? 0 : n * step);
  return ticks;
}

// 1, 2 and 5 of each decade from low to high (both above 0).
export function logTicks(low, high) {
  const ticks = [];
  for (let decade = Math.pow(10, Math.floor(Math.log10(low))); decade <= high; decade *= 10)
    for (const factor of [1, 2, 5]) {
      const value = factor * decade;
      if (value >= low * (1 - 1e-9) && value <= high * (1 + 1e-9)) ticks.push(value);
    }
  return ticks;
}

// One axis: `positionOf` maps a value to a pixel across the axis, grid
// lines through the plot at each tick, the tick labels and the axis's title.
// side: "bottom", "left" or "right"; `gap` CSS pixels between a side's
// edge and its labels. Returns what it drew, for the page's
// readers (the canvas's description, the tests).
export function drawAxis(context, g, axis) {
  const { side, ticks, labels, positionOf, unit, title, colour = COLOURS.text, grid = true, gap = 6 } = axis;
  const texts = labels || formatTicks(ticks, unit);
  const r = g.ratio;
  context.save();
  context.lineWidth = r;
  context.strokeStyle = COLOURS.grid;
  context.fillStyle = colour;
  context.font = `${11 * r}px ${FONT}`;
  context.beginPath();
  ticks.forEach((value) => {
    const p = positionOf(value);
    if (side === "bottom") {
      if (grid) { context.moveTo(p, g.top); context.lineTo(p, g.bottom); }
      context.moveTo(p, g.bottom); context.lineTo(p, g.bottom + 4 * r);
    } else {
      const edge = side === "left" ? g.left : g.right;
      if (grid) { context.moveTo(g.left, p); context.lineTo(g.right, p); }
      context.moveTo(edge, p); context.lineTo(edge + (side === "left" ? -4 : 4) * r, p);
    }
  });
  context.stroke();
  context.textAlign = side === "bottom" ? "center" : side === "left" ? "right" : "left";
  context.textBaseline = side === "bottom" ? "top" : "middle";
  ticks.forEach((value, i) => {
    const p = positionOf(value);
    if (side === "bottom") context.fillText(texts[i], p, g.bottom + 6 * r);
    else context.fillText(texts[i], side === "left" ? g.left - gap * r : g.right + gap * r, p);
  });
  // The title: under the tick labels, or turned along the side's edge.
  if (side === "bottom") {
    context.textBaseline = "top";
    context.fillText(title, g.left + g.plotWidth / 2, g.bottom + 21 * r);
  } else {
    context.translate(side === "left" ? g.left - 62 * r : g.right + 62 * r, g.top + g.plotHeight / 2);
    context.rotate(side === "left" ? -Math.PI / 2 : Math.PI / 2);
    context.textAlign = "center";
    context.fillText(title, 0, 0);
  }
  context.restore();
  return { side, title, ticks: texts };
}

// What the axes of a canvas show, in its description and its data.
export function publishAxes(canvas, axes, about) {
  canvas.dataset.axes = JSON.stringify(axes);
  const said = axes.map((a) => `${a.title}: ${a.ticks[0]} … ${a.ticks[a.ticks.length - 1]}`).join("; ");
  canvas.setAttribute("aria-label", `${about}; ${said}`);
}

// A line of text on the plot: each later one below the one before.
export function legend(context, g, lines) {
  const r = g.ratio;
  context.save();
  context.font = `${12 * r}px ${FONT}`;
  context.textAlign = "right";
  context.textBaseline = "top";
  lines.forEach(({ text, colour }, i) => {
    context.fillStyle = colour;
    context.fillText(text, g.right - 8 * r, g.top + (6 + 16 * i) * r);
  });
  context.restore();
}
