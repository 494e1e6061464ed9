// The bench view below the live trace: the newest record in time (zoom and
// position over the whole record, cursors, the CH1-CH2 trace), as a
// spectrum, or as XY. Its state is kept in local storage, so a reload keeps
// the view. The views draw through `bench.views[mode]`; cursors.js, fft.js,
// xy.js add theirs.
"use strict";

const bench = {
  views: {},
  // What is kept: the mode, the visible part of the record (fractions
  // 0..1), the cursors (time as fractions of the record, volts), the
  // spectrum's window, the math trace.
  view: { mode: "time", start: 0, end: 1, t1: 0.25, t2: 0.75, v1: 0.5, v2: -0.5, window: "hann", math: false },
  shown: 0,   // sequence of the record drawn
  frame: null,
};

const BENCH_KEY = "rk350.bench";

function benchLoad() {
  try {
    const saved = JSON.parse(localStorage.getItem(BENCH_KEY) || "{}");
    for (const key of Object.keys(bench.view)) if (key in saved) bench.view[key] = saved[key];
  } catch (error) {
    // A damaged entry is forgotten.
  }
}

function benchSave() {
  localStorage.setItem(BENCH_KEY, JSON.stringify(bench.view));
}

function benchGeometry(canvas) {
  const { ratio, width, height } = fitCanvas(canvas);
  const pad = 40 * ratio;
  return { ratio, width, height, left: pad, right: width - 10 * ratio, top: 10 * ratio, bottom: height - pad };
}

// Engineering notation with the unit, three significant digits.
function benchFormat(value, unit) {
  if (value === null || value === undefined || !Number.isFinite(value)) return "–";
  const prefixes = [[1e9, "G"], [1e6, "M"], [1e3, "k"], [1, ""], [1e-3, "m"], [1e-6, "µ"], [1e-9, "n"]];
  const magnitude = Math.abs(value);
  let chosen = [1, ""];
  if (magnitude > 0) for (const p of prefixes) { chosen = p; if (magnitude >= p[0] * 0.9995) break; }
  return (value / chosen[0]).toPrecision(3) + " " + chosen[1] + unit;
}

// The channel's volts where they were sampled (null elsewhere).
function benchChannel(frame, name) {
  return frame ? frame.channels.find((c) => c.name === name) || null : null;
}

// CH1 - CH2 where both hold a sample.
function benchDifference(frame) {
  const a = benchChannel(frame, "CH1");
  const b = benchChannel(frame, "CH2");
  if (!a || !b) return null;
  return a.volts.map((v, i) => (v === null || b.volts[i] === null ? null : v - b.volts[i]));
}

function benchDraw() {
  const canvas = document.getElementById("bench");
  const context = canvas.getContext("2d");
  const g = benchGeometry(canvas);
  context.fillStyle = "#111";
  context.fillRect(0, 0, g.width, g.height);
  const view = bench.views[bench.view.mode];
  const readout = document.getElementById("bench-readout");
  readout.textContent = "";
  if (bench.frame && view) view.draw(context, g, bench.frame, readout);
  document.body.dataset.benchShown = String(bench.frame ? bench.frame.sequence : 0);
}

function benchControls() {
  const mode = document.getElementById("bench-mode");
  const windowChoice = document.getElementById("bench-window");
  const math = document.getElementById("bench-math");
  mode.value = bench.view.mode;
  windowChoice.value = bench.view.window;
  math.checked = bench.view.math;
  const changed = () => {
    bench.view.mode = mode.value;
    bench.view.window = windowChoice.value;
    bench.view.math = math.checked;
    benchSave();
    benchDraw();
  };
  for (const control of [mode, windowChoice, math]) control.addEventListener("change", changed);
  document.getElementById("bench-reset-zoom").addEventListener("click", () => {
    bench.view.start = 0;
    bench.view.end = 1;
    benchSave();
    benchDraw();
  });
  const canvas = document.getElementById("bench");
  for (const name of Object.keys(bench.views))
    if (bench.views[name].attach) bench.views[name].attach(canvas);
}

// The live page keeps the newest record in `scope.frame`; draw it when a
// new one arrives.
function benchWatch() {
  const frame = typeof scope !== "undefined" ? scope.frame : null;
  if (frame && frame.sequence !== bench.shown) {
    bench.shown = frame.sequence;
    bench.frame = frame;
    benchDraw();
    if (typeof measurementsPanelShow === "function") measurementsPanelShow(frame);
  }
  requestAnimationFrame(benchWatch);
}

window.addEventListener("load", () => {
  benchLoad();
  benchControls();
  window.addEventListener("resize", benchDraw);
  requestAnimationFrame(benchWatch);
});
