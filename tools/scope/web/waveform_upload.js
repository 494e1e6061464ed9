// A user waveform file sent to the generator: volts one a line, or times and
// volts; the answer says what the card runs.
import { formatValue } from "./format.js";
import { postJson, showSettings } from "./state.js";

async function upload(shown) {
  const file = document.getElementById("waveform-file").files[0];
  if (!file) {
    shown.textContent = "choose a file first";
    return;
  }
  const frequency = parseFloat(document.getElementById("waveform-frequency").value);
  const body = { file: await file.text() };
  if (Number.isFinite(frequency)) body.frequency = frequency;
  const { ok, status, answer } = await postJson("/api/generator/waveform", body);
  if (!ok) {
    shown.textContent = answer.error || `HTTP ${status}`;
    return;
  }
  const reached = answer.reached || {};
  const g = (answer.settings || {}).generator || {};
  shown.dataset.running = String(reached.generatorFrequency || "");
  shown.textContent = `${reached.arbitraryPoints} points, amplitude ${formatValue(g.amplitude, "V")}, offset ` +
    `${formatValue(g.offset, "V")}` + (reached.generatorFrequency
      ? `; the card runs it at ${formatValue(reached.generatorFrequency, "Hz", { digits: 10 })}`
      : `; ${reached.arbitraryPoints === 1024 ? "repetition" : "sample clock"} asked ` +
        `${formatValue(g.frequency, "Hz")}`);
  showSettings(answer);
}

export function attachWaveformUpload() {
  const shown = document.getElementById("waveform-result");
  document.getElementById("waveform-send").addEventListener("click", () =>
    upload(shown).catch((error) => { shown.textContent = "the scope does not answer: " + error.message; }));
}
