// The scope's page: native modules, no build step. Each part subscribes to
// the state module's events; this file only wires them and starts.
import { attachBench } from "./bench.js";
import { attachControls, sendChange } from "./controls.js";
import { attachHeader } from "./header.js";
import { attachHistory } from "./history.js";
import { kept } from "./kept.js";
import { attachMeasurements } from "./measurements.js";
import { attachRecording } from "./recording.js";
import { on, start } from "./state.js";
import { CURSOR_DEFAULTS, TimeView } from "./time_view.js";
import { attachWaveformUpload } from "./waveform_upload.js";

function attachTrace() {
  const view = kept("rk350.trace", CURSOR_DEFAULTS);
  const trace = new TimeView(document.getElementById("trace"), view, {
    readout: document.getElementById("trace-readout"),
    onLevel: (level) => sendChange({ trigger: { level } }),
  });
  on("frame", (frame) => trace.show(frame));
  window.addEventListener("resize", () => trace.redraw());
  const cursors = document.getElementById("trace-cursors");
  cursors.checked = view.values.cursors;
  cursors.addEventListener("change", () => {
    view.values.cursors = cursors.checked;
    view.save();
    trace.redraw();
  });
  document.getElementById("trace-whole").addEventListener("click", () => {
    Object.assign(view.values, { start: 0, end: 1 });
    view.save();
    trace.redraw();
  });
}

attachHeader();
attachControls(document.getElementById("controls"));
attachTrace();
attachHistory(document.getElementById("trace-tools"));
attachMeasurements(document.getElementById("figures"), document.getElementById("measurements"),
                   document.getElementById("measurements-reset"));
attachBench();
attachWaveformUpload();
attachRecording();
start();
