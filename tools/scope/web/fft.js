// The bench's spectrum view: each channel's held samples (the largest power
// of two of them) through a window, in dBV (RMS volts of a sine at that
// frequency), with the highest peak marked.
"use strict";

const FFT_WINDOWS = {
  // Coefficients of the cosine sums.
  rectangular: [1],
  hann: [0.5, 0.5],
  blackmanharris: [0.35875, 0.48829, 0.14128, 0.01168],
  flattop: [0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368],
};

// In place, radix 2; re and im have a power-of-two length.
function fftInPlace(re, im) {
  const n = re.length;
  for (let i = 1, j = 0; i < n; i++) {
    let bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) { [re[i], re[j]] = [re[j], re[i]]; [im[i], im[j]] = [im[j], im[i]]; }
  }
  for (let size = 2; size <= n; size <<= 1) {
    const angle = (-2 * Math.PI) / size;
    const wr = Math.cos(angle), wi = Math.sin(angle);
    for (let start = 0; start < n; start += size) {
      let cr = 1, ci = 0;
      for (let k = 0; k < size / 2; k++) {
        const a = start + k, b = a + size / 2;
        const tr = re[b] * cr - im[b] * ci, ti = re[b] * ci + im[b] * cr;
        re[b] = re[a] - tr; im[b] = im[a] - ti;
        re[a] += tr; im[a] += ti;
        const next = cr * wr - ci * wi;
        ci = cr * wi + ci * wr;
        cr = next;
      }
    }
  }
}

// dBV per bin (0 .. n/2) of the channel's first held samples, or null.
function spectrumOf(channel, windowName) {
  const [first, count] = channel.held;
  if (count < 16) return null;
  let n = 1;
  while (n * 2 <= count && n < 65536) n *= 2;
  const coefficients = FFT_WINDOWS[windowName] || FFT_WINDOWS.hann;
  const re = new Float64Array(n), im = new Float64Array(n);
  let gain = 0;
  for (let i = 0; i < n; i++) {
    let w = 0;
    coefficients.forEach((c, k) => { w += (k % 2 ? -c : c) * Math.cos((2 * Math.PI * k * i) / n); });
    const v = channel.volts[first + i];
    re[i] = (v === null ? 0 : v) * w;
    gain += w;
  }
  fftInPlace(re, im);
  const db = new Float64Array(n / 2 + 1);
  for (let k = 0; k <= n / 2; k++) {
    // Peak volts of a sine in bin k, then RMS.
    const peak = (Math.hypot(re[k], im[k]) / gain) * (k === 0 ? 1 : 2);
    const rms = k === 0 ? peak : peak / Math.SQRT2;
    db[k] = 20 * Math.log10(Math.max(rms, 1e-12));
  }
  return { db, n };
}

const fftView = {
  draw(context, g, frame, readout) {
    const top = 20, bottom = -120;  // dBV
    const yOf = (db) => g.top + ((top - Math.min(top, Math.max(bottom, db))) / (top - bottom)) * (g.bottom - g.top);
    context.strokeStyle = "#333";
    context.fillStyle = "#888";
    context.font = `${11 * g.ratio}px sans-serif`;
    for (let db = top; db >= bottom; db -= 20) {
      const y = yOf(db);
      context.beginPath(); context.moveTo(g.left, y); context.lineTo(g.right, y); context.stroke();
      context.fillText(`${db} dBV`, 2, y + 4 * g.ratio);
    }
    const nyquist = frame.rate / 2;
    context.fillText(`0 Hz … ${benchFormat(nyquist, "Hz")}, ${bench.view.window} window`, g.left, g.bottom + 16 * g.ratio);
    const peaks = [];
    for (const channel of frame.channels) {
      const s = spectrumOf(channel, bench.view.window);
      if (!s) continue;
      const bins = s.db.length;
      context.strokeStyle = BENCH_COLOURS[channel.name] || "#ccc";
      context.lineWidth = g.ratio;
      context.beginPath();
      let best = 1;
      for (let k = 0; k < bins; k++) {
        const x = g.left + (k / (bins - 1)) * (g.right - g.left);
        if (k === 0) context.moveTo(x, yOf(s.db[k])); else context.lineTo(x, yOf(s.db[k]));
        if (k > 0 && s.db[k] > s.db[best]) best = k;
      }
      context.stroke();
      const frequency = (best * frame.rate) / s.n;
      const x = g.left + (best / (bins - 1)) * (g.right - g.left);
      const y = yOf(s.db[best]);
      context.fillStyle = context.strokeStyle;
      context.beginPath(); context.moveTo(x, y - 4 * g.ratio); context.lineTo(x - 5 * g.ratio, y - 12 * g.ratio);
      context.lineTo(x + 5 * g.ratio, y - 12 * g.ratio); context.fill();
      context.fillText(`${benchFormat(frequency, "Hz")} ${s.db[best].toFixed(1)} dBV`, x + 8 * g.ratio, y - 8 * g.ratio);
      peaks.push(`${channel.name} peak ${benchFormat(frequency, "Hz")} (bin ${benchFormat(frame.rate / s.n, "Hz")} wide), ${s.db[best].toFixed(1)} dBV, ${s.n} samples`);
      readout.dataset[channel.name.toLowerCase() + "PeakHz"] = String(frequency);
      readout.dataset[channel.name.toLowerCase() + "PeakDbv"] = String(s.db[best]);
    }
    readout.textContent = peaks.join("   ");
  },
};

bench.views.fft = fftView;
