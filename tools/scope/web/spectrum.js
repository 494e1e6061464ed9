// A channel's spectrum: its first held samples (the largest power of two of
// them) through a window, in dBV (RMS volts of a sine at that frequency),
// and its highest peak between bins: first the parabola through the
// logarithms of the three largest bins, then, within 0.6 bins of that, the
// sine that, fitted under the same window, explains the most of the samples.

export const WINDOWS = {
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

// RMS volts of a sine whose transform at a bin has this magnitude, in dBV
// (a sine's half lies in its negative twin); at DC the volts themselves.
function dbv(magnitude, gain, dc = false) {
  return 20 * Math.log10(Math.max(dc ? magnitude / gain : (2 * magnitude) / gain / Math.SQRT2, 1e-12));
}

// The sine at `bin` (any real number of bins) and a constant fitted to the
// samples by least squares with these weights (the window squared: the fit
// under the window): the samples' energy it explains, and its amplitude. Unlike the transform's magnitude,
// this holds the sine's negative-frequency twin and a DC part in the model,
// so their leakage does not pull the peak.
function sineFit(volts, weights, bin) {
  const n = weights.length;
  const step = (2 * Math.PI * bin) / n;
  const wr = Math.cos(step), wi = Math.sin(step);
  let c = 1, s = 0;
  let w0 = 0, wc = 0, ws = 0, wcc = 0, wss = 0, wcs = 0, x0 = 0, xc = 0, xs = 0;
  for (let i = 0; i < n; i++) {
    const w = weights[i], x = volts[i];
    w0 += w; wc += w * c; ws += w * s; wcc += w * c * c; wss += w * s * s; wcs += w * c * s;
    x0 += w * x; xc += w * x * c; xs += w * x * s;
    const next = c * wr - s * wi;
    s = c * wi + s * wr;
    c = next;
  }
  // [w0 wc ws; wc wcc wcs; ws wcs wss] [dc a b] = [x0 xc xs]
  const [dc, a, b] = solve3([[w0, wc, ws, x0], [wc, wcc, wcs, xc], [ws, wcs, wss, xs]]);
  return { explained: dc * x0 + a * xc + b * xs, amplitude: Math.hypot(a, b) };
}

// Three equations, each row [a b c | d], by elimination with the largest pivot.
function solve3(rows) {
  for (let col = 0; col < 3; col++) {
    let pivot = col;
    for (let r = col + 1; r < 3; r++) if (Math.abs(rows[r][col]) > Math.abs(rows[pivot][col])) pivot = r;
    [rows[col], rows[pivot]] = [rows[pivot], rows[col]];
    if (rows[col][col] === 0) return [0, 0, 0];
    for (let r = 0; r < 3; r++) {
      if (r === col) continue;
      const factor = rows[r][col] / rows[col][col];
      for (let k = col; k < 4; k++) rows[r][k] -= factor * rows[col][k];
    }
  }
  return rows.map((row, i) => row[3] / row[i]);
}

// The bin of the largest local maximum above DC (a DC part's leakage falls
// away from bin 0, so it is no peak), or 0 when there is none (silence).
function largestPeakBin(magnitudes) {
  let best = 0;
  for (let k = 1; k < magnitudes.length - 1; k++)
    if (magnitudes[k] > magnitudes[k - 1] && magnitudes[k] >= magnitudes[k + 1] &&
        (best === 0 || magnitudes[k] > magnitudes[best])) best = k;
  return best;
}

// A first estimate between bins: the parabola through the logarithms of the
// three magnitudes around the largest (exact for a Gaussian peak).
export function gaussianPeak(magnitudes, k) {
  const a = Math.log(Math.max(magnitudes[k - 1], 1e-300)), b = Math.log(Math.max(magnitudes[k], 1e-300));
  const c = Math.log(Math.max(magnitudes[k + 1], 1e-300));
  const curvature = a - 2 * b + c;
  return curvature < 0 ? k + Math.max(-0.5, Math.min(0.5, (0.5 * (a - c)) / curvature)) : k;
}

// The bin whose sine explains the most between low and high: the best of a
// grid a tenth of a bin apart (the top of a flat-top window is nearly level,
// so noise may put a second, lower hump on it), then golden-section search
// around it.
function refinedPeak(volts, weights, low, high) {
  const explained = (bin) => sineFit(volts, weights, bin).explained;
  let best = low, most = -Infinity;
  for (let bin = low; bin <= high + 1e-9; bin += 0.1) {
    const e = explained(bin);
    if (e > most) { most = e; best = bin; }
  }
  const golden = (Math.sqrt(5) - 1) / 2;
  let a = Math.max(low, best - 0.1), b = Math.min(high, best + 0.1);
  let x1 = b - golden * (b - a), x2 = a + golden * (b - a);
  let f1 = explained(x1), f2 = explained(x2);
  while (b - a > 1e-5) {
    if (f1 < f2) { a = x1; x1 = x2; f1 = f2; x2 = a + golden * (b - a); f2 = explained(x2); }
    else { b = x2; x2 = x1; f2 = f1; x1 = b - golden * (b - a); f1 = explained(x1); }
  }
  const bin = (a + b) / 2;
  return { bin, amplitude: sineFit(volts, weights, bin).amplitude };
}

// volts: the samples (null where none was held); the spectrum of the first
// `count` from `first`, or null under 16. Bins are rate / n wide.
// peak: {bin, gaussianBin, dbv} with bin the refined estimate.
export function spectrumOf(volts, first, count, windowName) {
  if (count < 16) return null;
  let n = 1;
  while (n * 2 <= count && n < 65536) n *= 2;
  const coefficients = WINDOWS[windowName] || WINDOWS.hann;
  const samples = new Float64Array(n), weights = new Float64Array(n);
  const re = new Float64Array(n), im = new Float64Array(n);
  let gain = 0;
  for (let i = 0; i < n; i++) {
    let w = 0;
    coefficients.forEach((c, k) => { w += (k % 2 ? -c : c) * Math.cos((2 * Math.PI * k * i) / n); });
    const v = volts[first + i];
    samples[i] = v === null ? 0 : v;
    weights[i] = w * w; // the sine times the window against the samples times the window
    re[i] = samples[i] * w;
    gain += w;
  }
  fftInPlace(re, im);
  const magnitudes = new Float64Array(n / 2 + 1);
  for (let k = 0; k <= n / 2; k++) magnitudes[k] = Math.hypot(re[k], im[k]);
  const db = magnitudes.map((m, k) => dbv(m, gain, k === 0));
  const k = largestPeakBin(magnitudes);
  let peak = null;
  if (k > 0) {
    const gaussianBin = gaussianPeak(magnitudes, k);
    const refined = refinedPeak(samples, weights, Math.max(0.5, gaussianBin - 0.6), gaussianBin + 0.6);
    // The fitted sine's RMS volts.
    peak = { bin: refined.bin, gaussianBin, dbv: 20 * Math.log10(Math.max(refined.amplitude / Math.SQRT2, 1e-12)) };
  }
  return { db, n, peak };
}
