// Every figure of the scope's measurements per channel, with its spread over
// the last records (count, minimum, mean, maximum, standard deviation) and
// a reset that starts the statistics again.
"use strict";

const PANEL_UNITS = {
  frequency: "Hz", period: "s", peakToPeak: "V", minimum: "V", maximum: "V", mean: "V", rms: "V", acRms: "V",
  dutyCycle: "%", riseTime: "s", fallTime: "s", overshoot: "%",
};

// The frequency to the digits its uncertainty supports.
function panelFrequency(figures) {
  const f = figures.frequency, u = figures.frequencyUncertainty;
  if (f === null || f === undefined) return "–";
  if (!u) return benchFormat(f, "Hz");
  const scale = f >= 1e6 ? 1e6 : f >= 1e3 ? 1e3 : 1;
  const decimals = Math.max(0, -Math.ceil(Math.log10(u / scale) - 1e-9));
  return (f / scale).toFixed(decimals) + " " + { 1e6: "MHz", 1e3: "kHz", 1: "Hz" }[scale];
}

function panelValue(key, value) {
  if (value === null || value === undefined) return "–";
  return PANEL_UNITS[key] === "%" ? value.toFixed(1) + " %" : benchFormat(value, PANEL_UNITS[key]);
}

function measurementsPanelShow(frame) {
  const body = document.querySelector("#measurements tbody");
  const rows = [];
  for (const channel of frame.channels) {
    const stats = channel.statistics || {};
    for (const key of Object.keys(PANEL_UNITS)) {
      const s = stats[key] || { count: 0 };
      const now = key === "frequency" ? panelFrequency(channel.figures) : panelValue(key, channel.figures[key]);
      rows.push(`<tr class="${channel.name.toLowerCase()}" data-key="${channel.name}-${key}" data-count="${s.count}">` +
                `<th>${channel.name}</th><td>${key}</td><td>${now}</td><td>${panelValue(key, s.minimum)}</td>` +
                `<td>${panelValue(key, s.mean)}</td><td>${panelValue(key, s.maximum)}</td>` +
                `<td>${panelValue(key, s.deviation)}</td><td>${s.count}</td></tr>`);
    }
  }
  body.innerHTML = rows.join("");
  document.getElementById("measurements").dataset.records = String(frame.channels[0] && frame.channels[0].statistics
    ? frame.channels[0].statistics.records : 0);
}

window.addEventListener("load", () => {
  document.getElementById("measurements-reset").addEventListener("click", () => {
    fetch("/api/measurements/reset", { method: "POST", headers: { "Content-Type": "application/json" }, body: "{}" });
  });
});
