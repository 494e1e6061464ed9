// The page's top line: the card, what it does while a slow record is taken,
// the records drawn per second, Run/Stop/Single, the downloads; and the
// status line below it.
import { formatValue } from "./format.js";
import { on, state } from "./state.js";
import { sendChange } from "./controls.js";

// "waiting for trigger: 2.1 s", "acquiring: 3.2 of 10.3 s"
function showRun(shown, run) {
  const seconds = (s) => (Math.round(s * 10) / 10).toFixed(1);
  if (!run) shown.textContent = "";
  else if (run.phase === "waiting") shown.textContent = `waiting for trigger: ${seconds(run.seconds)} s`;
  else
    shown.textContent = `acquiring: ${seconds(Math.min(run.seconds, run.runSeconds))} of ${seconds(run.runSeconds)} s`;
  shown.dataset.phase = run ? run.phase : "";
}

// "rk350-20261210-223015-1MHz-5000": the date and the settings of the
// record, for the downloads' file names.
function downloadName() {
  const settings = state.settings ? state.settings.settings : {};
  const stamp = new Date().toISOString().replace(/[-:]/g, "").replace("T", "-").slice(0, 15);
  const rate = formatValue(settings.rate, "Hz", { digits: 3 }).replace(/\s/g, "")
    .replace(/(\.\d*?)0+(?=\D)/, "$1").replace(/\.(?=\D)/, "");
  return `rk350-${stamp}-${rate}-${settings.samples}`;
}

// Records drawn per second over the last two seconds; none for two
// seconds read as 0.
function rateCounter(shown) {
  const times = [];
  const update = () => {
    const now = performance.now();
    while (times.length > 0 && now - times[0] > 2000) times.shift();
    shown.textContent = times.length > 1 ? `${((times.length - 1) / ((now - times[0]) / 1000)).toFixed(0)} records/s`
                                         : "0 records/s";
  };
  setInterval(update, 500);
  return () => {
    times.push(performance.now());
    update();
  };
}

export function attachHeader() {
  const status = document.getElementById("status");
  on("status", (text) => { status.textContent = text; });
  on("offer", (offer) => {
    const card = document.getElementById("card");
    card.textContent = card.title = offer.card.trim();
  });
  const run = document.getElementById("run-shown");
  on("run", (phase) => showRun(run, phase));
  const counted = rateCounter(document.getElementById("rate-shown"));
  let framesDrawn = 0;
  on("frame", (frame) => {
    counted();
    framesDrawn += 1;
    document.body.dataset.frames = String(framesDrawn);
    document.body.dataset.shownSequence = String(frame.sequence);
  });
  const buttons = document.querySelectorAll("[data-acquisition]");
  for (const button of buttons)
    button.addEventListener("click", () => sendChange({ acquisition: button.dataset.acquisition }));
  on("settings", (answer) => {
    if (!answer) return;
    for (const button of buttons)
      button.classList.toggle("active", button.dataset.acquisition === answer.settings.acquisition);
  });
  for (const link of document.querySelectorAll("a[download]")) {
    // The href may name a kept record (?sequence=N): the extension is the path's.
    link.addEventListener("click", () => {
      const extension = link.getAttribute("href").split("?")[0].split(".").pop();
      link.download = `${downloadName()}.${extension}`;
    });
  }
}
