// A record over time on a canvas: the live trace and the bench's time view
// are two of these. The wheel zooms around the pointer, a drag moves the
// part shown, two time and two voltage cursors are dragged by their lines,
// and (where it has a trigger) the trigger level by its line. Every axis has
// ticks and a title; where there are more samples than pixel columns, each
// column shows the lowest and highest sample it covers.
import { formatInline, formatTicks, formatValue } from "./format.js";
import { COLOURS, FONT, clipToPlot, drawAxis, geometry, inPlot, linearTicks, niceStep, pointerIn,
         publishAxes } from "./plot.js";

const DIVISIONS_Y = 8;
const NEAR = 6; // CSS pixels from a line that take it

export const CURSOR_DEFAULTS = { start: 0, end: 1, cursors: false, t1: 0.25, t2: 0.75, v1: 0.5, v2: -0.5 };

// A part of a record ({start, end}, fractions of it) zoomed by `factor`
// around the fraction `at`, down to 16 samples.
export function zoomedAround(view, at, factor, samples) {
  const span = Math.min(1, Math.max(16 / samples, (view.end - view.start) * factor));
  const start = Math.min(1 - span, Math.max(0, at - (at - view.start) * (span / (view.end - view.start))));
  return { start, end: start + span };
}

// CH1 - CH2 where both hold a sample.
export function difference(frame) {
  const a = frame.channels.find((c) => c.name === "CH1"), b = frame.channels.find((c) => c.name === "CH2");
  if (!a || !b) return null;
  return a.volts.map((v, i) => (v === null || b.volts[i] === null ? null : v - b.volts[i]));
}

export class TimeView {
  // kept: {values, save} with the keys of CURSOR_DEFAULTS. Options:
  //   readout      the element for the cursors' and the zoom's figures
  //   sharedScale  every channel on the largest range (else each on its own, CH2's on the right)
  //   cursorsAlways the cursors whatever `cursors` says
  //   math()       whether CH1-CH2 is drawn too
  //   onLevel(v)   the trigger level dragged to v (none: no level line to drag)
  //   active()     whether the canvas shows this view now
  constructor(canvas, kept, options) {
    this.canvas = canvas;
    this.kept = kept;
    this.options = { math: () => false, active: () => true, ...options };
    this.frame = null;
    this.drag = null; // "pan", "level", "t1", "t2", "v1", "v2" while the pointer moves one
    this.level = null; // the level while it is dragged
    this.pending = false;
    const k = kept.values;
    if (!(k.start >= 0 && k.end <= 1 && k.end > k.start)) Object.assign(k, { start: 0, end: 1 });
    this.attach();
  }

  show(frame) {
    this.frame = frame;
    this.redraw();
  }

  redraw() {
    if (this.pending || !this.options.active()) return;
    this.pending = true;
    requestAnimationFrame(() => {
      this.pending = false;
      this.draw();
    });
  }

  cursorsOn() {
    return this.options.cursorsAlways || this.kept.values.cursors;
  }

  geometry() {
    const shared = this.options.sharedScale;
    return geometry(this.canvas, { left: 76, right: shared ? 24 : 76, top: 10, bottom: 40 });
  }

  // Each channel's full scale in volts.
  scales(frame) {
    const largest = Math.max(0.001, ...frame.channels.map((c) => c.range || 1));
    return Object.fromEntries(frame.channels.map((c) => [c.name, this.options.sharedScale ? largest : c.range || 1]));
  }

  xOf(g, fraction) {
    const { start, end } = this.kept.values;
    return g.left + ((fraction - start) / (end - start)) * g.plotWidth;
  }

  fractionAt(g, x) {
    const { start, end } = this.kept.values;
    return start + ((x - g.left) / g.plotWidth) * (end - start);
  }

  yOf(g, volts, scale) {
    return g.top + g.plotHeight * (0.5 - volts / (2 * scale));
  }

  voltsAt(g, y, scale) {
    return (0.5 - (y - g.top) / g.plotHeight) * 2 * scale;
  }

  timeOf(frame, fraction) {
    return (fraction * frame.samples - frame.triggerIndex) / frame.rate;
  }

  triggerChannel(frame) {
    return this.options.onLevel ? frame.channels.find((c) => c.name === frame.triggerChannel) || null : null;
  }

  // The channel the voltage cursors read: the first one shown.
  cursorChannel(frame) {
    return frame.channels.length > 0 ? frame.channels[0] : null;
  }

  draw() {
    const frame = this.frame;
    const context = this.canvas.getContext("2d");
    const g = this.geometry();
    context.clearRect(0, 0, g.width, g.height);
    if (!frame) return;
    const scales = this.scales(frame);
    const axes = this.drawAxes(context, g, frame, scales);
    clipToPlot(context, g);
    this.drawEmpty(context, g, frame);
    for (const channel of frame.channels)
      this.drawTrace(context, g, channel.volts, COLOURS[channel.name], scales[channel.name]);
    const math = this.options.math() ? difference(frame) : null;
    if (math) this.drawTrace(context, g, math, COLOURS.math, Math.max(...Object.values(scales)));
    if (this.cursorsOn()) this.drawCursors(context, g, frame, scales);
    context.restore();
    this.drawTrigger(context, g, frame, scales);
    this.drawBadges(context, g, frame);
    this.showReadout(frame);
    this.publish(g, frame, scales, axes);
  }

  drawAxes(context, g, frame, scales) {
    const k = this.kept.values;
    const start = this.timeOf(frame, k.start), end = this.timeOf(frame, k.end);
    const step = niceStep(end - start, Math.min(10, Math.floor(g.plotWidth / (90 * g.ratio))));
    const times = linearTicks(start, end, step);
    const axes = [drawAxis(context, g, {
      side: "bottom", ticks: times, unit: "s", title: "time from the trigger",
      positionOf: (t) => g.left + ((t - start) / (end - start)) * g.plotWidth,
    })];
    // Eight divisions of each scale, every other one labelled.
    const sides = this.options.sharedScale ? [frame.channels.slice(0, 1)] : frame.channels.map((c) => [c]);
    sides.slice(0, 2).forEach(([channel], i) => {
      const scale = scales[channel.name];
      const ticks = [];
      for (let d = 0; d <= DIVISIONS_Y; d++) ticks.push(scale * (1 - (2 * d) / DIVISIONS_Y));
      const named = formatTicks(ticks.filter((_, d) => d % 2 === 0), "V");
      const shared = this.options.sharedScale;
      axes.push(drawAxis(context, g, {
        side: i === 0 ? "left" : "right", ticks, labels: ticks.map((_, d) => (d % 2 === 0 ? named[d / 2] : "")),
        title: shared ? "volts" : `${channel.name} volts`, colour: shared ? COLOURS.text : COLOURS[channel.name],
        positionOf: (v) => this.yOf(g, v, scale), grid: i === 0, gap: i === 0 || !this.options.onLevel ? 6 : 16,
      }));
    });
    return axes;
  }

  // Positions that hold no sample, shaded.
  drawEmpty(context, g, frame) {
    context.fillStyle = "rgba(140, 150, 165, 0.18)";
    const shade = (from, to) => {
      if (to <= from) return;
      const x0 = this.xOf(g, from / frame.samples), x1 = this.xOf(g, to / frame.samples);
      context.fillRect(x0, g.top, Math.max(g.ratio, x1 - x0), g.plotHeight);
    };
    for (const channel of frame.channels) {
      const [first, count] = channel.held;
      shade(0, count === 0 ? frame.samples : first);
      if (count > 0) shade(first + count, frame.samples);
    }
  }

  // One trace. With more samples than pixel columns, each column is a
  // vertical line over its samples, entered at the end nearer the column
  // before, so an edge is one stroke and no spike.
  drawTrace(context, g, volts, colour, scale) {
    const samples = volts.length;
    const k = this.kept.values;
    const first = Math.max(0, Math.floor(k.start * samples)), last = Math.min(samples, Math.ceil(k.end * samples));
    context.strokeStyle = colour;
    context.lineWidth = 1.5 * g.ratio;
    context.lineJoin = "round";
    context.beginPath();
    let pen = null; // the y the line is at, null when lifted
    const columns = Math.max(1, Math.floor(g.plotWidth));
    if (last - first > 2 * columns) {
      const shown = last - first;
      for (let c = 0; c < columns; c++) {
        const from = first + Math.floor((c * shown) / columns), to = first + Math.floor(((c + 1) * shown) / columns);
        let low = Infinity, high = -Infinity;
        for (let i = from; i < to; i++) {
          const v = volts[i];
          if (v === null) continue;
          if (v < low) low = v;
          if (v > high) high = v;
        }
        if (low === Infinity) { pen = null; continue; }
        const x = this.xOf(g, from / samples);
        const yLow = this.yOf(g, low, scale), yHigh = this.yOf(g, high, scale);
        const lowFirst = pen !== null && Math.abs(pen - yLow) < Math.abs(pen - yHigh);
        const [enter, leave] = lowFirst ? [yLow, yHigh] : [yHigh, yLow];
        if (pen === null) context.moveTo(x, enter); else context.lineTo(x, enter);
        context.lineTo(x, leave);
        pen = leave;
      }
    } else {
      // One sample either side, so the line runs to the plot's edges.
      for (let i = Math.max(0, first - 1); i < Math.min(samples, last + 1); i++) {
        const v = volts[i];
        if (v === null) { pen = null; continue; }
        const x = this.xOf(g, i / samples), y = this.yOf(g, v, scale);
        if (pen === null) context.moveTo(x, y); else context.lineTo(x, y);
        pen = y;
      }
    }
    context.stroke();
  }

  drawCursors(context, g, frame, scales) {
    const channel = this.cursorChannel(frame);
    if (!channel) return;
    const k = this.kept.values, r = g.ratio;
    context.strokeStyle = context.fillStyle = COLOURS.cursor;
    context.lineWidth = r;
    context.setLineDash([2 * r, 3 * r]);
    context.font = `${11 * r}px ${FONT}`;
    context.textAlign = "left";
    context.textBaseline = "bottom";
    for (const key of ["t1", "t2"]) {
      const x = this.xOf(g, k[key]);
      context.beginPath(); context.moveTo(x, g.top); context.lineTo(x, g.bottom); context.stroke();
      context.fillText(key, x + 3 * r, g.bottom - 2 * r);
    }
    for (const key of ["v1", "v2"]) {
      const y = this.yOf(g, k[key], scales[channel.name]);
      context.beginPath(); context.moveTo(g.left, y); context.lineTo(g.right, y); context.stroke();
      context.fillText(key.toUpperCase(), g.left + 3 * r, y - 2 * r);
    }
    context.setLineDash([]);
  }

  drawTrigger(context, g, frame, scales) {
    const r = g.ratio;
    const x = this.xOf(g, frame.triggerIndex / frame.samples);
    // Zoomed away from the trigger instant: no line, no mark for it.
    const instantShown = x >= g.left - 0.5 && x <= g.right + 0.5;
    context.strokeStyle = "rgba(255, 255, 255, 0.55)";
    context.lineWidth = r;
    context.setLineDash([6 * r, 4 * r]);
    if (instantShown) {
      context.beginPath(); context.moveTo(x, g.top); context.lineTo(x, g.bottom); context.stroke();
    }
    const channel = this.triggerChannel(frame);
    const level = this.level !== null ? this.level : frame.triggerLevel;
    if (channel && level !== null) {
      const y = this.yOf(g, level, scales[channel.name]);
      context.strokeStyle = context.fillStyle = COLOURS[channel.name];
      context.beginPath(); context.moveTo(g.left, y); context.lineTo(g.right, y); context.stroke();
      // The handle to drag the level by.
      context.setLineDash([]);
      context.beginPath();
      context.moveTo(g.right, y);
      context.lineTo(g.right + 12 * r, y - 7 * r);
      context.lineTo(g.right + 12 * r, y + 7 * r);
      context.closePath();
      context.fill();
      context.fillStyle = "#000";
      context.font = `bold ${9 * r}px ${FONT}`;
      context.textAlign = "center";
      context.textBaseline = "middle";
      context.fillText("T", g.right + 8 * r, y);
    }
    context.setLineDash([]);
    if (!instantShown) return;
    context.fillStyle = "#fff";
    context.beginPath();
    context.moveTo(x - 6 * r, g.top);
    context.lineTo(x + 6 * r, g.top);
    context.lineTo(x, g.top + 8 * r);
    context.closePath();
    context.fill();
  }

  drawBadges(context, g, frame) {
    const r = g.ratio;
    context.font = `bold ${12 * r}px ${FONT}`;
    context.textAlign = "left";
    context.textBaseline = "top";
    let x = g.left + 8 * r;
    const badge = (text, colour) => {
      context.fillStyle = colour;
      context.fillText(text, x, g.top + 6 * r);
      x += context.measureText(text).width + 18 * r;
    };
    for (const channel of frame.channels)
      badge(`${channel.name} ±${formatValue(channel.range, "V")}${channel.overrange ? "  OVERRANGE" : ""}`,
            channel.overrange ? COLOURS.error : COLOURS[channel.name]);
    if (this.options.math() && difference(frame)) badge("CH1−CH2", COLOURS.math);
    badge(`${formatValue(frame.rate, "Hz")}, ${frame.samples} samples`, COLOURS.text);
  }

  // The part shown and the cursors' figures, below the canvas.
  showReadout(frame) {
    const readout = this.options.readout;
    const k = this.kept.values;
    const parts = [];
    if (k.end - k.start < 1)
      parts.push(`shown ${formatInline(this.timeOf(frame, k.start), "s")} … ` +
                 `${formatInline(this.timeOf(frame, k.end), "s")}` +
                 ` (${formatValue((k.end - k.start) * 100, "%")} of the record)`);
    readout.dataset.start = String(k.start);
    readout.dataset.end = String(k.end);
    const channel = this.cursorChannel(frame);
    if (this.cursorsOn() && channel) {
      const t1 = this.timeOf(frame, k.t1), t2 = this.timeOf(frame, k.t2), dt = t2 - t1;
      readout.dataset.dt = String(dt);
      readout.dataset.dv = String(k.v2 - k.v1);
      parts.push(`t1 ${formatInline(t1, "s")}  t2 ${formatInline(t2, "s")}  Δt ${formatInline(dt, "s")}` +
                 `  1/Δt ${formatInline(dt !== 0 ? 1 / Math.abs(dt) : NaN, "Hz")}`,
                 `V1 ${formatInline(k.v1, "V")}  V2 ${formatInline(k.v2, "V")}  ΔV ${formatInline(k.v2 - k.v1, "V")}` +
                 ` (${channel.name})`);
    } else {
      delete readout.dataset.dt;
      delete readout.dataset.dv;
    }
    readout.textContent = parts.join("   ");
  }

  // Where the plot is (CSS pixels within the canvas) and its scales, for
  // whoever points at it (the tests); what its axes show.
  publish(g, frame, scales, axes) {
    const k = this.kept.values;
    const css = (v) => v / g.ratio;
    const trigger = this.triggerChannel(frame);
    const cursor = this.cursorChannel(frame);
    this.canvas.dataset.plot = JSON.stringify({
      left: css(g.left), top: css(g.top), width: css(g.plotWidth), height: css(g.plotHeight), start: k.start,
      end: k.end, scales, cursorScale: cursor ? scales[cursor.name] : null,
      level: trigger ? frame.triggerLevel : null, levelScale: trigger ? scales[trigger.name] : null,
    });
    this.canvas.dataset.shown = String(frame.sequence);
    publishAxes(this.canvas, axes, "the record over time");
  }

  attach() {
    const canvas = this.canvas, k = this.kept.values;
    canvas.addEventListener("wheel", (event) => {
      const g = this.geometry();
      const { x, y } = pointerIn(canvas, g, event);
      if (!this.options.active() || !this.frame || !inPlot(g, x, y)) return;
      event.preventDefault();
      Object.assign(k, zoomedAround(k, this.fractionAt(g, x), event.deltaY < 0 ? 0.8 : 1.25, this.frame.samples));
      this.kept.save();
      this.redraw();
    }, { passive: false });
    canvas.addEventListener("pointerdown", (event) => {
      const frame = this.frame;
      if (!this.options.active() || !frame || event.button !== 0) return;
      const g = this.geometry();
      const { x, y } = pointerIn(canvas, g, event);
      const near = NEAR * g.ratio, scales = this.scales(frame);
      const trigger = this.triggerChannel(frame);
      // The level's handle lies right of the plot.
      const onLevel = trigger && frame.triggerLevel !== null && x >= g.left && x <= g.right + 14 * g.ratio &&
                      Math.abs(y - this.yOf(g, frame.triggerLevel, scales[trigger.name])) <= 8 * g.ratio;
      if (!onLevel && !inPlot(g, x, y)) return;
      this.drag = onLevel ? "level" : null;
      const cursor = this.cursorChannel(frame);
      if (!this.drag && this.cursorsOn() && cursor) {
        for (const key of ["t1", "t2"]) if (Math.abs(this.xOf(g, k[key]) - x) < near) this.drag = key;
        for (const key of ["v1", "v2"])
          if (Math.abs(this.yOf(g, k[key], scales[cursor.name]) - y) < near) this.drag = key;
      }
      if (!this.drag) {
        this.drag = "pan";
        this.from = { x, start: k.start, end: k.end };
      }
      if (this.drag === "level") this.level = frame.triggerLevel;
      canvas.dataset.drag = this.drag;
      canvas.setPointerCapture(event.pointerId);
    });
    canvas.addEventListener("pointermove", (event) => {
      const frame = this.frame;
      const g = this.geometry();
      const { x, y } = pointerIn(canvas, g, event);
      if (!this.drag || !frame) {
        const trigger = frame && this.triggerChannel(frame);
        const levelY = trigger && frame.triggerLevel !== null
          ? this.yOf(g, frame.triggerLevel, this.scales(frame)[trigger.name]) : null;
        const overLevel = levelY !== null && Math.abs(y - levelY) <= 8 * g.ratio;
        canvas.style.cursor = overLevel ? "ns-resize" : "";
        return;
      }
      const scales = this.scales(frame);
      if (this.drag === "pan") {
        const span = this.from.end - this.from.start;
        const moved = ((x - this.from.x) / g.plotWidth) * span;
        k.start = Math.min(1 - span, Math.max(0, this.from.start - moved));
        k.end = k.start + span;
      } else if (this.drag === "level") {
        const trigger = this.triggerChannel(frame);
        const range = trigger ? trigger.range : 1;
        const step = range / 128; // the card sets the level in these steps
        const volts = Math.round(this.voltsAt(g, y, scales[trigger.name]) / step) * step;
        this.level = Math.max(-range, Math.min(range, volts));
      } else if (this.drag[0] === "t") {
        k[this.drag] = Math.min(1, Math.max(0, this.fractionAt(g, x)));
      } else {
        const scale = scales[this.cursorChannel(frame).name];
        k[this.drag] = Math.min(scale, Math.max(-scale, this.voltsAt(g, y, scale)));
      }
      this.redraw();
    });
    const release = () => {
      if (!this.drag) return;
      if (this.drag === "level") this.options.onLevel(this.level);
      else this.kept.save();
      this.drag = null;
      this.level = null;
      delete canvas.dataset.drag;
    };
    canvas.addEventListener("pointerup", release);
    canvas.addEventListener("pointercancel", release);
  }
}
