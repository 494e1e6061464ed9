// A user waveform file sent to the generator: volts one a line, or times and
// volts; the answer says what the card runs.
"use strict";

async function uploadWaveform() {
  const file = document.getElementById("waveform-file").files[0];
  const shown = document.getElementById("waveform-result");
  if (!file) { shown.textContent = "choose a file first"; return; }
  const frequency = parseFloat(document.getElementById("waveform-frequency").value);
  const body = { file: await file.text() };
  if (Number.isFinite(frequency)) body.frequency = frequency;
  const response = await fetch("/api/generator/waveform", {
    method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(body),
  });
  const answer = await response.json();
  if (!response.ok) { shown.textContent = answer.error || response.statusText; return; }
  const reached = answer.reached || {};
  const g = (answer.settings || {}).generator || {};
  shown.dataset.running = String(reached.generatorFrequency || "");
  shown.textContent = `${reached.arbitraryPoints} points, amplitude ${benchFormat(g.amplitude, "V")}, offset ` +
    `${benchFormat(g.offset, "V")}` + (reached.generatorFrequency
      ? `; the card runs it at ${reached.generatorFrequency.toPrecision(10)} Hz`
      : `; ${reached.arbitraryPoints === 1024 ? "repetition" : "sample clock"} asked ${benchFormat(g.frequency, "Hz")}`);
  if (typeof showSettings === "function") showSettings(answer);
}

window.addEventListener("load", () => {
  document.getElementById("waveform-send").addEventListener("click", uploadWaveform);
});
