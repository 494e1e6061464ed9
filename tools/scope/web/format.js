// The one way the page writes a number: engineering notation with an SI
// prefix and a fixed count of significant digits, or, for an axis tick, the
// fewest digits that tell the ticks apart.

const PREFIXES = [[1e9, "G"], [1e6, "M"], [1e3, "k"], [1, ""], [1e-3, "m"], [1e-6, "µ"], [1e-9, "n"]];
// Units read without a prefix: "50.00 %", not "500.0 m%".
const UNPREFIXED = new Set(["%", "dBV", "dB", "samples", ""]);

export const DIGITS = 4;

function prefixFor(value, unit, digits) {
  if (UNPREFIXED.has(unit) || value === 0) return [1, ""];
  const magnitude = Math.abs(value);
  // 999.96 shown to 4 digits is 1.000 k, not 1000.
  const rounding = 1 - 0.5 * Math.pow(10, -digits);
  for (const [factor, prefix] of PREFIXES) if (magnitude >= factor * rounding) return [factor, prefix];
  return PREFIXES[PREFIXES.length - 1];
}

function join(number, prefix, unit) {
  return unit || prefix ? `${number} ${prefix}${unit}` : number;
}

// A figure: "1.000 kHz", "-250.0 mV", "50.00 %"; with its uncertainty, a
// frequency to the digits that uncertainty supports ("1.00012 kHz").
export function formatValue(value, unit = "", { uncertainty = 0, digits = DIGITS } = {}) {
  if (value === null || value === undefined || !Number.isFinite(value)) return "–";
  const [factor, prefix] = prefixFor(value, unit, digits);
  const scaled = value / factor;
  if (uncertainty > 0 && Number.isFinite(uncertainty)) {
    // The last digit shown is worth at least the uncertainty.
    const decimals = Math.max(0, -Math.ceil(Math.log10(uncertainty / factor) - 1e-9));
    return join(scaled.toFixed(Math.min(decimals, 12)), prefix, unit);
  }
  return join(scaled.toPrecision(digits), prefix, unit);
}

// The labels of an axis's ticks, all with one prefix and as many decimals as
// the step between them needs: "0 s", "200 µs", "400 µs".
export function formatTicks(values, unit = "") {
  if (values.length === 0) return [];
  const largest = Math.max(...values.map(Math.abs));
  const [factor, prefix] = prefixFor(largest, unit, DIGITS);
  const step = values.length > 1 ? Math.abs(values[1] - values[0]) / factor : largest / factor || 1;
  const decimals = Math.max(0, Math.min(9, -Math.floor(Math.log10(step) + 1e-9)));
  return values.map((v) => {
    const text = (v / factor).toFixed(decimals);
    return join(Number(text) === 0 ? (0).toFixed(decimals) : text, prefix, unit);
  });
}

// A figure with no break between it and its unit, for one-line readouts.
export function formatInline(value, unit, options) {
  return formatValue(value, unit, options).replace(" ", "\u00a0");
}
