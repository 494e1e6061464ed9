// The live trace as a bench scope has it: the wheel zooms around the
// pointer, a drag moves the part of the record shown, and two time and two
// voltage cursors (dragged by their lines) give their differences. The view
// is kept in local storage, so a reload keeps it. The trigger level line
// keeps its own drag: scope.js takes the press first, and a press it took is
// left alone here.
"use strict";

const TRACE_KEY = "rk350.trace";

const traceView = {
  // The part shown (fractions of the record), whether the cursors are on,
  // the time cursors (fractions of the record) and the voltage cursors
  // (volts on the scale of the first channel shown).
  kept: { start: 0, end: 1, cursors: false, t1: 0.25, t2: 0.75, v1: 0.5, v2: -0.5 },
  drag: null, // "pan", "t1", "t2", "v1", "v2" while the pointer moves one
  from: null, // where a pan started
};

// A part of a record ({start, end}, fractions of it) zoomed by `factor`
// around the fraction `at`, down to 16 samples; the bench view zooms alike.
function zoomedAround(view, at, factor, samples) {
  const span = Math.min(1, Math.max(16 / samples, (view.end - view.start) * factor));
  const start = Math.min(1 - span, Math.max(0, at - (at - view.start) * (span / (view.end - view.start))));
  return { start, end: start + span };
}

function traceViewLoad() {
  try {
    const saved = JSON.parse(localStorage.getItem(TRACE_KEY) || "{}");
    for (const key of Object.keys(traceView.kept))
      if (key in saved && typeof saved[key] === typeof traceView.kept[key]) traceView.kept[key] = saved[key];
  } catch (error) {
    // A damaged entry is forgotten.
  }
  const k = traceView.kept;
  if (!(k.start >= 0 && k.end <= 1 && k.end > k.start)) Object.assign(k, { start: 0, end: 1 });
  scope.view.start = k.start;
  scope.view.end = k.end;
}

function traceViewSave() {
  traceView.kept.start = scope.view.start;
  traceView.kept.end = scope.view.end;
  localStorage.setItem(TRACE_KEY, JSON.stringify(traceView.kept));
}

// The channel the voltage cursors read: the first one shown.
function traceCursorChannel(frame) {
  return frame && frame.channels.length > 0 ? frame.channels[0] : null;
}

function traceFractionAt(g, x) {
  const { start, end } = scope.view;
  return start + ((x - g.margin.left) / g.plotWidth) * (end - start);
}

function traceVoltsAt(g, y, range) {
  return (0.5 - (y - g.margin.top) / g.plotHeight) * 2 * range;
}

function traceTimeOf(frame, fraction) {
  return (fraction * frame.samples - frame.triggerIndex) / frame.rate;
}

// The cursors over the trace and the readout below it; called by draw().
function traceViewDraw(context, g, frame) {
  // A figure and its unit stay on one line of the readout.
  const figure = (value, unit) => engineering(value, unit).replace(" ", "\u00a0");
  const k = traceView.kept;
  const readout = document.getElementById("trace-readout");
  const whole = scope.view.end - scope.view.start >= 1;
  let text = whole ? "" : `shown ${figure(traceTimeOf(frame, scope.view.start), "s")} … ` +
                          `${figure(traceTimeOf(frame, scope.view.end), "s")} ` +
                          `(${((scope.view.end - scope.view.start) * 100).toPrecision(3)} % of the record)`;
  readout.dataset.start = String(scope.view.start);
  readout.dataset.end = String(scope.view.end);
  const channel = traceCursorChannel(frame);
  if (k.cursors && channel) {
    context.save();
    context.beginPath();
    context.rect(g.margin.left, g.margin.top, g.plotWidth, g.plotHeight);
    context.clip();
    context.strokeStyle = "#e6e6e6";
    context.fillStyle = "#e6e6e6";
    context.lineWidth = g.ratio;
    context.setLineDash([2 * g.ratio, 3 * g.ratio]);
    context.font = `${11 * g.ratio}px "DejaVu Sans", sans-serif`;
    context.textBaseline = "bottom";
    for (const [key, label] of [["t1", "t1"], ["t2", "t2"]]) {
      const x = xOf(g, k[key] * frame.samples, frame.samples);
      context.beginPath();
      context.moveTo(x, g.margin.top);
      context.lineTo(x, g.margin.top + g.plotHeight);
      context.stroke();
      context.textAlign = "left";
      context.fillText(label, x + 3 * g.ratio, g.margin.top + g.plotHeight - 2 * g.ratio);
    }
    for (const [key, label] of [["v1", "V1"], ["v2", "V2"]]) {
      const y = yOf(g, k[key], channel.range);
      context.beginPath();
      context.moveTo(g.margin.left, y);
      context.lineTo(g.margin.left + g.plotWidth, y);
      context.stroke();
      context.textAlign = "left";
      context.fillText(label, g.margin.left + 3 * g.ratio, y - 2 * g.ratio);
    }
    context.restore();
    const t1 = traceTimeOf(frame, k.t1), t2 = traceTimeOf(frame, k.t2);
    const dt = t2 - t1;
    readout.dataset.dt = String(dt);
    readout.dataset.dv = String(k.v2 - k.v1);
    text += `${text ? "   " : ""}t1 ${figure(t1, "s")}  t2 ${figure(t2, "s")}  Δt ${figure(dt, "s")}` +
            `  1/Δt ${figure(dt !== 0 ? 1 / Math.abs(dt) : NaN, "Hz")}` +
            `   V1 ${figure(k.v1, "V")}  V2 ${figure(k.v2, "V")}  ΔV ${figure(k.v2 - k.v1, "V")}` +
            ` (${channel.name})`;
  } else {
    delete readout.dataset.dt;
    delete readout.dataset.dv;
  }
  readout.textContent = text;
}

function traceViewAttach() {
  const canvas = document.getElementById("trace");
  const k = traceView.kept;
  const point = (event) => {
    const g = geometry(canvas);
    const r = canvas.getBoundingClientRect();
    return { g, x: (event.clientX - r.left) * g.ratio, y: (event.clientY - r.top) * g.ratio };
  };
  const inPlot = (g, x, y) => x >= g.margin.left && x <= g.margin.left + g.plotWidth && y >= g.margin.top &&
                              y <= g.margin.top + g.plotHeight;

  canvas.addEventListener("wheel", (event) => {
    const frame = scope.frame;
    const { g, x, y } = point(event);
    if (!frame || !inPlot(g, x, y)) return;
    event.preventDefault();
    Object.assign(scope.view, zoomedAround(scope.view, traceFractionAt(g, x), event.deltaY < 0 ? 0.8 : 1.25,
                                           frame.samples));
    traceViewSave();
    scheduleDraw();
  }, { passive: false });

  // On the trace's section, so that the canvas's own listener (the trigger
  // level) has seen the press first.
  const section = canvas.parentElement;
  section.addEventListener("pointerdown", (event) => {
    const frame = scope.frame;
    if (event.target !== canvas || event.button !== 0 || !frame || scope.drag !== null) return;
    const { g, x, y } = point(event);
    if (!inPlot(g, x, y)) return;
    const near = 6 * g.ratio;
    traceView.drag = null;
    const channel = traceCursorChannel(frame);
    if (k.cursors && channel) {
      for (const key of ["t1", "t2"])
        if (Math.abs(xOf(g, k[key] * frame.samples, frame.samples) - x) < near) traceView.drag = key;
      for (const key of ["v1", "v2"]) if (Math.abs(yOf(g, k[key], channel.range) - y) < near) traceView.drag = key;
    }
    if (!traceView.drag) {
      traceView.drag = "pan";
      traceView.from = { x, start: scope.view.start, end: scope.view.end };
    }
    document.body.dataset.traceDrag = traceView.drag;
    canvas.setPointerCapture(event.pointerId);
  });
  section.addEventListener("pointermove", (event) => {
    const frame = scope.frame;
    if (!traceView.drag || !frame) return;
    const { g, x, y } = point(event);
    const v = scope.view;
    if (traceView.drag === "pan") {
      const span = traceView.from.end - traceView.from.start;
      const moved = ((x - traceView.from.x) / g.plotWidth) * span;
      v.start = Math.min(1 - span, Math.max(0, traceView.from.start - moved));
      v.end = v.start + span;
    } else if (traceView.drag[0] === "t") {
      k[traceView.drag] = Math.min(1, Math.max(0, traceFractionAt(g, x)));
    } else {
      const range = traceCursorChannel(frame).range;
      k[traceView.drag] = Math.min(range, Math.max(-range, traceVoltsAt(g, y, range)));
    }
    scheduleDraw();
  });
  const release = () => {
    if (!traceView.drag) return;
    traceView.drag = null;
    delete document.body.dataset.traceDrag;
    traceViewSave();
  };
  section.addEventListener("pointerup", release);
  section.addEventListener("pointercancel", release);

  const cursors = document.getElementById("trace-cursors");
  cursors.checked = k.cursors;
  cursors.addEventListener("change", () => {
    k.cursors = cursors.checked;
    traceViewSave();
    scheduleDraw();
  });
  document.getElementById("trace-whole").addEventListener("click", () => {
    scope.view.start = 0;
    scope.view.end = 1;
    traceViewSave();
    scheduleDraw();
  });
}

traceViewLoad();
window.addEventListener("load", traceViewAttach);
