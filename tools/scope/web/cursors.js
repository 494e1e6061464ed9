// The bench's time view: the whole record or a part of it (wheel zooms
// around the pointer, a drag moves the part shown), the CH1-CH2 trace, and
// two time and two voltage cursors, dragged, with their differences.
"use strict";

const BENCH_COLOURS = { CH1: "#f5c211", CH2: "#33c7de", math: "#e05bd5", cursor: "#ffffff" };

const timeView = {
  drag: null,  // what the pointer moves: "pan", "t1", "t2", "v1", "v2"

  scaleOf(frame) {
    const ranges = frame.channels.map((c) => c.range || 1);
    return Math.max(...ranges, 0.001);
  },

  xOf(g, fraction) {
    const v = bench.view;
    return g.left + ((fraction - v.start) / (v.end - v.start)) * (g.right - g.left);
  },

  fractionAt(g, x) {
    const v = bench.view;
    return v.start + ((x - g.left) / (g.right - g.left)) * (v.end - v.start);
  },

  yOf(g, volts, scale) {
    return g.top + ((scale - volts) / (2 * scale)) * (g.bottom - g.top);
  },

  voltsAt(g, y, scale) {
    return scale - ((y - g.top) / (g.bottom - g.top)) * 2 * scale;
  },

  timeOf(frame, fraction) {
    return (fraction * frame.samples - frame.triggerIndex) / frame.rate;
  },

  trace(context, g, frame, volts, colour, scale) {
    const n = volts.length;
    const first = Math.max(0, Math.floor(bench.view.start * n));
    const last = Math.min(n, Math.ceil(bench.view.end * n) + 1);
    context.strokeStyle = colour;
    context.lineWidth = g.ratio;
    context.beginPath();
    let pen = false;
    for (let i = first; i < last; i++) {
      if (volts[i] === null) { pen = false; continue; }
      const x = this.xOf(g, i / n);
      const y = this.yOf(g, volts[i], scale);
      if (pen) context.lineTo(x, y); else context.moveTo(x, y);
      pen = true;
    }
    context.stroke();
  },

  draw(context, g, frame, readout) {
    const scale = this.scaleOf(frame);
    context.strokeStyle = "#333";
    context.lineWidth = 1;
    for (let i = 0; i <= 10; i++) {
      const x = g.left + (i / 10) * (g.right - g.left);
      context.beginPath(); context.moveTo(x, g.top); context.lineTo(x, g.bottom); context.stroke();
    }
    for (let i = 0; i <= 8; i++) {
      const y = g.top + (i / 8) * (g.bottom - g.top);
      context.beginPath(); context.moveTo(g.left, y); context.lineTo(g.right, y); context.stroke();
    }
    for (const c of frame.channels) this.trace(context, g, frame, c.volts, BENCH_COLOURS[c.name] || "#ccc", scale);
    const difference = bench.view.math ? benchDifference(frame) : null;
    if (difference) this.trace(context, g, frame, difference, BENCH_COLOURS.math, scale);

    const v = bench.view;
    context.setLineDash([6 * g.ratio, 4 * g.ratio]);
    context.strokeStyle = BENCH_COLOURS.cursor;
    for (const t of [v.t1, v.t2]) {
      const x = this.xOf(g, t);
      context.beginPath(); context.moveTo(x, g.top); context.lineTo(x, g.bottom); context.stroke();
    }
    for (const volts of [v.v1, v.v2]) {
      const y = this.yOf(g, volts, scale);
      context.beginPath(); context.moveTo(g.left, y); context.lineTo(g.right, y); context.stroke();
    }
    context.setLineDash([]);
    context.fillStyle = "#ccc";
    context.font = `${12 * g.ratio}px sans-serif`;
    context.fillText(`${benchFormat(this.timeOf(frame, v.start), "s")} … ${benchFormat(this.timeOf(frame, v.end), "s")}` +
                     `  (${((v.end - v.start) * 100).toPrecision(3)} % of the record)`, g.left, g.bottom + 16 * g.ratio);

    const t1 = this.timeOf(frame, v.t1);
    const t2 = this.timeOf(frame, v.t2);
    const dt = t2 - t1;
    readout.dataset.dt = String(dt);
    readout.dataset.dv = String(v.v2 - v.v1);
    readout.textContent = `t1 ${benchFormat(t1, "s")}  t2 ${benchFormat(t2, "s")}  Δt ${benchFormat(dt, "s")}` +
                          `  1/Δt ${benchFormat(dt !== 0 ? 1 / Math.abs(dt) : NaN, "Hz")}` +
                          `   V1 ${benchFormat(v.v1, "V")}  V2 ${benchFormat(v.v2, "V")}  ΔV ${benchFormat(v.v2 - v.v1, "V")}`;
  },

  // Wheel: zoom around the pointer; drag: a cursor near the pointer, else
  // the part shown.
  attach(canvas) {
    const point = (event) => {
      const g = benchGeometry(canvas);
      const r = canvas.getBoundingClientRect();
      return { g, x: (event.clientX - r.left) * g.ratio, y: (event.clientY - r.top) * g.ratio };
    };
    canvas.addEventListener("wheel", (event) => {
      if (bench.view.mode !== "time" || !bench.frame) return;
      event.preventDefault();
      const { g, x } = point(event);
      Object.assign(bench.view, zoomedAround(bench.view, this.fractionAt(g, x), event.deltaY < 0 ? 0.8 : 1.25,
                                             bench.frame.samples));
      benchSave();
      benchDraw();
    }, { passive: false });
    canvas.addEventListener("pointerdown", (event) => {
      if (bench.view.mode !== "time" || !bench.frame) return;
      const { g, x, y } = point(event);
      const scale = this.scaleOf(bench.frame);
      const v = bench.view;
      const near = 6 * g.ratio;
      this.drag = "pan";
      for (const key of ["t1", "t2"]) if (Math.abs(this.xOf(g, v[key]) - x) < near) this.drag = key;
      for (const key of ["v1", "v2"]) if (Math.abs(this.yOf(g, v[key], scale) - y) < near) this.drag = key;
      this.from = { x, start: v.start, end: v.end };
      canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener("pointermove", (event) => {
      if (!this.drag || !bench.frame) return;
      const { g, x, y } = point(event);
      const v = bench.view;
      if (this.drag === "pan") {
        const span = this.from.end - this.from.start;
        const moved = ((x - this.from.x) / (g.right - g.left)) * span;
        v.start = Math.min(1 - span, Math.max(0, this.from.start - moved));
        v.end = v.start + span;
      } else if (this.drag[0] === "t") {
        v[this.drag] = Math.min(1, Math.max(0, this.fractionAt(g, x)));
      } else {
        v[this.drag] = this.voltsAt(g, y, this.scaleOf(bench.frame));
      }
      benchDraw();
    });
    canvas.addEventListener("pointerup", () => {
      if (this.drag) benchSave();
      this.drag = null;
    });
  },
};

bench.views.time = timeView;
