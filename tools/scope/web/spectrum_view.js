// The bench's spectrum: each channel in dBV over frequency (a logarithmic
// axis from the first bin to half the rate, or a linear one from 0), its
// highest peak marked and named, between bins, in the plot's legend.
import { formatTicks, formatValue } from "./format.js";
import { COLOURS, clipToPlot, drawAxis, geometry, legend, linearTicks, logTicks, niceStep,
         publishAxes } from "./plot.js";
import { spectrumOf } from "./spectrum.js";

const TOP = 20, BOTTOM = -120; // dBV
const WINDOW_NAMES = {
  hann: "Hann", rectangular: "rectangular", blackmanharris: "Blackman-Harris", flattop: "flat top",
};

// Frequency to pixel and back on the chosen axis.
function frequencyAxis(g, low, high, logarithmic) {
  const span = logarithmic ? Math.log(high / low) : high;
  const of = (f) => g.left + ((logarithmic ? Math.log(Math.max(f, low) / low) : f) / span) * g.plotWidth;
  const ticks = logarithmic ? logTicks(low, high)
                            : linearTicks(0, high, niceStep(high, Math.floor(g.plotWidth / (90 * g.ratio))));
  return { of, ticks };
}

// Only the decades and their halves get a label when a log axis is crowded.
function logLabels(ticks, unit, plotWidth, ratio) {
  const labels = ticks.map((f) => formatTicks([f], unit)[0]);
  if (ticks.length * 60 * ratio <= plotWidth) return labels;
  return labels.map((text, i) => (/^[15]/.test(text) ? text : ""));
}

export function drawSpectrum(canvas, frame, { window: windowName, axis }, readout) {
  const context = canvas.getContext("2d");
  const g = geometry(canvas, { left: 76, right: 32, top: 10, bottom: 40 });
  context.clearRect(0, 0, g.width, g.height);
  const spectra = frame.channels.map((c) => ({ channel: c, s: spectrumOf(c.volts, c.held[0], c.held[1], windowName) }))
    .filter(({ s }) => s);
  const n = spectra.length > 0 ? spectra[0].s.n : Math.max(2, frame.samples);
  const nyquist = frame.rate / 2, bin = frame.rate / n;
  const logarithmic = axis !== "linear";
  const x = frequencyAxis(g, bin, nyquist, logarithmic);
  const yOf = (db) => g.top + ((TOP - Math.min(TOP, Math.max(BOTTOM, db))) / (TOP - BOTTOM)) * g.plotHeight;
  const levels = linearTicks(BOTTOM, TOP, 20);
  const axes = [
    drawAxis(context, g, { side: "bottom", ticks: x.ticks, positionOf: x.of, unit: "Hz", title: "frequency",
                           labels: logarithmic ? logLabels(x.ticks, "Hz", g.plotWidth, g.ratio) : undefined }),
    drawAxis(context, g, { side: "left", ticks: levels, positionOf: yOf, unit: "dBV", title: "level (dBV, RMS)" }),
  ];
  clipToPlot(context, g);
  const lines = [], said = [];
  for (const { channel, s } of spectra) {
    const colour = COLOURS[channel.name];
    // Where bins crowd a pixel column, its highest.
    context.strokeStyle = colour;
    context.lineWidth = g.ratio;
    context.lineJoin = "round";
    context.beginPath();
    let column = null, highest = -Infinity, pen = false;
    const flush = () => {
      if (column === null) return;
      if (pen) context.lineTo(column, yOf(highest)); else context.moveTo(column, yOf(highest));
      pen = true;
    };
    for (let k = logarithmic ? 1 : 0; k < s.db.length; k++) {
      const px = Math.round(x.of(k * bin));
      if (px !== column) { flush(); column = px; highest = -Infinity; }
      highest = Math.max(highest, s.db[k]);
    }
    flush();
    context.stroke();
    const key = channel.name.toLowerCase();
    if (!s.peak) continue;
    const frequency = s.peak.bin * bin;
    const px = x.of(frequency), py = yOf(s.peak.dbv);
    context.fillStyle = colour;
    context.beginPath();
    context.moveTo(px, py - 3 * g.ratio);
    context.lineTo(px - 5 * g.ratio, py - 11 * g.ratio);
    context.lineTo(px + 5 * g.ratio, py - 11 * g.ratio);
    context.fill();
    const text = `${channel.name} peak ${formatValue(frequency, "Hz")}, ${formatValue(s.peak.dbv, "dBV")}`;
    lines.push({ text, colour });
    said.push(text);
    readout.dataset[key + "PeakHz"] = String(frequency);
    readout.dataset[key + "PeakDbv"] = String(s.peak.dbv);
    readout.dataset[key + "GaussianHz"] = String(s.peak.gaussianBin * bin);
  }
  context.restore();
  legend(context, g, lines);
  const about = `${WINDOW_NAMES[windowName] || windowName} window, ${n} of ${frame.samples} samples, ` +
                `bins ${formatValue(bin, "Hz")} wide`;
  readout.textContent = [...said, about].join("   ");
  publishAxes(canvas, axes, "the spectrum of each channel");
}
