// The bench view below the live trace: the newest record in time (its own
// zoom and cursors, the CH1-CH2 trace), as a spectrum, or as XY, on one
// canvas. What it shows is kept in local storage, so a reload keeps it.
import { kept } from "./kept.js";
import { drawSpectrum } from "./spectrum_view.js";
import { on } from "./state.js";
import { CURSOR_DEFAULTS, TimeView } from "./time_view.js";
import { drawXy } from "./xy_view.js";

export function attachBench() {
  const canvas = document.getElementById("bench");
  const readout = document.getElementById("bench-readout");
  const view = kept("rk350.bench", { ...CURSOR_DEFAULTS, mode: "time", window: "hann", math: false, axis: "log" });
  const v = view.values;
  const time = new TimeView(canvas, view, {
    readout, sharedScale: true, cursorsAlways: true, math: () => v.math, active: () => v.mode === "time",
  });
  let frame = null, pending = false;

  const draw = () => {
    pending = false;
    if (!frame) return;
    if (v.mode === "fft") drawSpectrum(canvas, frame, v, readout);
    else if (v.mode === "xy") drawXy(canvas, frame, readout);
    else {
      time.frame = frame;
      time.draw();
    }
    document.body.dataset.benchShown = String(frame.sequence);
  };
  const redraw = () => {
    if (!pending) requestAnimationFrame(draw);
    pending = true;
  };
  on("frame", (newest) => {
    frame = newest;
    redraw();
  });

  // The choices, each kept as it changes.
  const choices = { "bench-mode": "mode", "bench-window": "window", "bench-axis": "axis" };
  const math = document.getElementById("bench-math");
  for (const [id, key] of Object.entries(choices)) {
    const select = document.getElementById(id);
    select.value = v[key];
    if (select.value !== v[key]) v[key] = select.value; // a kept value the list no longer has
  }
  math.checked = v.math;
  const changed = () => {
    for (const [id, key] of Object.entries(choices)) v[key] = document.getElementById(id).value;
    v.math = math.checked;
    document.body.dataset.benchMode = v.mode;
    view.save();
    redraw();
  };
  for (const id of [...Object.keys(choices), "bench-math"])
    document.getElementById(id).addEventListener("change", changed);
  document.body.dataset.benchMode = v.mode;
  document.getElementById("bench-reset-zoom").addEventListener("click", () => {
    Object.assign(v, { start: 0, end: 1 });
    view.save();
    redraw();
  });
  window.addEventListener("resize", redraw);
}
