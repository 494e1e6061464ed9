// The figures of each channel's record, named as the measurement table of
// the server's offer names them: a few beside the trace, every one with its
// spread over the last records in the bench's panel, which a reset starts again.
import { formatValue } from "./format.js";
import { on, postJson } from "./state.js";

const BESIDE_THE_TRACE = ["frequency", "peakToPeak", "rms", "mean"];

// A figure of the record: the frequency to the digits its uncertainty supports.
function figureText(quantity, figures) {
  const value = figures[quantity.key];
  const uncertainty = quantity.key === "frequency" ? figures.frequencyUncertainty : 0;
  return formatValue(value, quantity.unit, { uncertainty });
}

function cell(row, tag, text) {
  const element = row.appendChild(document.createElement(tag));
  element.textContent = text;
  return element;
}

function buildFigures(table, quantities) {
  const head = table.createTHead().insertRow();
  cell(head, "th", "");
  for (const q of quantities) cell(head, "th", q.label);
  cell(head, "th", "samples");
  const body = table.createTBody();
  for (const name of ["ch1", "ch2"]) {
    const row = body.insertRow();
    row.className = name;
    cell(row, "th", name.toUpperCase());
    for (const q of quantities) cell(row, "td", "").id = `${name}-${q.key}`;
    cell(row, "td", "").id = `${name}-held`;
  }
}

function showFigures(quantities, frame) {
  for (const name of ["ch1", "ch2"]) {
    const channel = frame.channels.find((c) => c.name === name.toUpperCase());
    for (const q of quantities) {
      const element = document.getElementById(`${name}-${q.key}`);
      const value = channel ? channel.figures[q.key] : null;
      element.textContent = channel ? figureText(q, channel.figures) : "off";
      element.dataset.value = value === null || value === undefined ? "" : String(value);
    }
    const held = document.getElementById(`${name}-held`);
    held.textContent = channel ? `${channel.held[1]} of ${channel.volts.length}` : "";
  }
  const taken = document.getElementById("taken");
  taken.textContent = frame.taken ? `record ${frame.sequence}: ${frame.taken}` : "";
  taken.dataset.how = String(frame.how);
}

// One row per channel and figure; rebuilt when the channels shown change.
function showPanel(table, quantities, frame) {
  const body = table.tBodies[0];
  const names = frame.channels.map((c) => c.name).join();
  if (body.dataset.channels !== names) {
    body.replaceChildren();
    for (const channel of frame.channels)
      for (const q of quantities) {
        const row = body.insertRow();
        row.className = channel.name.toLowerCase();
        row.dataset.key = `${channel.name}-${q.key}`;
        cell(row, "th", channel.name);
        cell(row, "td", q.label);
        for (let i = 0; i < 6; i++) cell(row, "td", "");
      }
    body.dataset.channels = names;
  }
  let row = 0;
  for (const channel of frame.channels) {
    const statistics = channel.statistics || {};
    for (const q of quantities) {
      const tr = body.rows[row++];
      const s = statistics[q.key] || { count: 0 };
      const spread = s.count > 0 ? [s.minimum, s.mean, s.maximum, s.deviation] : [null, null, null, null];
      const texts = [figureText(q, channel.figures), ...spread.map((v) => formatValue(v, q.unit)), String(s.count)];
      texts.forEach((text, i) => { tr.cells[2 + i].textContent = text; });
      tr.dataset.count = String(s.count);
    }
  }
  const first = frame.channels[0];
  table.dataset.records = String(first && first.statistics ? first.statistics.records : 0);
}

export function attachMeasurements(figures, panel, reset) {
  let quantities = null, beside = null;
  on("offer", (offer) => {
    quantities = offer.measurements;
    beside = BESIDE_THE_TRACE.map((key) => quantities.find((q) => q.key === key)).filter(Boolean);
    buildFigures(figures, beside);
  });
  on("frame", (frame) => {
    if (!quantities) return;
    showFigures(beside, frame);
    showPanel(panel, quantities, frame);
  });
  reset.addEventListener("click", () => postJson("/api/measurements/reset", {}).catch(() => {}));
}
