// The scope's page: draws the records the server streams, sends changed
// settings back as JSON. Plain script, no build step.
"use strict";

const COLOURS = { CH1: "#f5c211", CH2: "#33c7de" };
const DIVISIONS_Y = 8;

const scope = {
  offer: null,
  state: null,
  frame: null,
  drawPending: false,
  framesDrawn: 0,
  drawTimes: [],
  drag: null, // the trigger level while it is dragged, in volts
  // The part of the record the trace shows, as fractions of it (zoom and
  // position: trace_view.js sets them).
  view: { start: 0, end: 1 },
};

// "1.25 kHz", "-250 mV": four significant digits and an SI prefix.
function engineering(value, unit) {
  if (value === null || value === undefined || !Number.isFinite(value)) return "–";
  if (value === 0) return "0 " + unit;
  const prefixes = [[1e9, "G"], [1e6, "M"], [1e3, "k"], [1, ""], [1e-3, "m"], [1e-6, "µ"], [1e-9, "n"]];
  const magnitude = Math.abs(value);
  let [factor, prefix] = prefixes[prefixes.length - 1];
  for (const [f, p] of prefixes) {
    if (magnitude >= f * 0.99995) { factor = f; prefix = p; break; }
  }
  return Number((value / factor).toPrecision(4)).toString() + " " + prefix + unit;
}

function setStatus(text) {
  document.getElementById("status").textContent = text;
}

async function getJson(path) {
  const response = await fetch(path, { cache: "no-store" });
  if (!response.ok) throw new Error(path + ": HTTP " + response.status);
  return response.json();
}

// ---- Settings ----------------------------------------------------------

function settingAt(settings, path) {
  return path.split(".").reduce((object, key) => (object === undefined ? undefined : object[key]), settings);
}

function patchFor(path, value) {
  const keys = path.split(".");
  const patch = {};
  let object = patch;
  keys.slice(0, -1).forEach((key) => { object = object[key] = {}; });
  object[keys[keys.length - 1]] = value;
  return patch;
}

function controlValue(control) {
  const type = control.dataset.type;
  if (type === "boolean") return control.checked;
  const text = control.value.trim();
  if (type === "optional" || type === "optional-integer") {
    if (text === "") return null;
  }
  if (type === "range" && text === "auto") return "auto";
  if (type === "source" && text === "") return null;
  if (type === "number" || type === "integer" || type === "range" || type === "optional" || type === "optional-integer") {
    const number = Number(text);
    return text === "" || Number.isNaN(number) ? text : number;
  }
  return text;
}

function showSettings(state) {
  scope.state = state;
  for (const control of document.querySelectorAll("[data-setting]")) {
    if (control === document.activeElement && control.tagName === "INPUT" && control.type !== "checkbox") continue;
    const value = settingAt(state.settings, control.dataset.setting);
    const text = value === null || value === undefined ? "" : String(value);
    if (control.dataset.type === "boolean") {
      control.checked = Boolean(value);
    } else {
      // A value the lists do not hold (a rate given on the command line, a
      // trigger mode number) gets an entry of its own.
      if (control.tagName === "SELECT" && text !== "" && ![...control.options].some((o) => o.value === text)) {
        const number = Number(text);
        const label = control.dataset.setting === "rate" ? engineering(number, "Hz") : text;
        control.add(new Option(label, text));
      }
      control.value = text;
    }
  }
  for (const button of document.querySelectorAll("[data-acquisition]"))
    button.classList.toggle("active", button.dataset.acquisition === state.settings.acquisition);
  // Above the converters' own rate only CH1 is measured: CH2 shows off.
  const ch2 = document.querySelector('[data-setting="ch2.on"]');
  if (state.reached && (state.reached.measureMode & 2) === 0 && ch2.checked) {
    ch2.checked = false;
    ch2.title = "off: at this rate both converters sample CH1";
  } else {
    ch2.title = "";
  }
}

// "rk350-20261210-223015-1MHz-5000": the date and the settings of the
// record, for the downloads' file names.
function downloadName() {
  const settings = scope.state ? scope.state.settings : {};
  const stamp = new Date().toISOString().replace(/[-:]/g, "").replace("T", "-").slice(0, 15);
  const rate = engineering(settings.rate, "Hz").replace(/\s/g, "");
  return `rk350-${stamp}-${rate}-${settings.samples}`;
}

async function sendSettings(patch) {
  let answer;
  try {
    const response = await fetch("/api/settings", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify(patch),
    });
    answer = await response.json();
    if (!response.ok) {
      // A refusal by the card already names the call, the result and its meaning.
      const error = answer.error || "";
      setStatus(!answer.result || error.includes(answer.result) ? error
                                              : `${answer.result || "HTTP " + response.status}: ${answer.meaning || ""} — ${error}`);
      showSettings(scope.state); // the card kept its settings: so do the controls
      return false;
    }
  } catch (error) {
    setStatus("the scope does not answer: " + error.message);
    return false;
  }
  // Values the card runs other than asked (a rate it rounds, a range rounded up) are said.
  const shown = (value, unit) => (typeof value === "number" ? engineering(value, unit) : String(value));
  setStatus((answer.adjusted || [])
    .map((a) => `${a.key} runs at ${shown(a.running, a.unit)} (asked for ${shown(a.asked, a.unit)})`).join("; "));
  showSettings(answer);
  return true;
}

function buildControls() {
  const offer = scope.offer;
  document.getElementById("card").textContent = offer.card.trim();
  document.body.classList.toggle("virtual-card", offer.virtualCard);
  const rate = document.querySelector('[data-setting="rate"]');
  for (const r of offer.rates) {
    const option = new Option(engineering(r.rate, "Hz") + (r.ch1Only ? " (CH1)" : ""), String(r.rate));
    rate.add(option);
  }
  for (const select of document.querySelectorAll('[data-type="range"]')) {
    for (const range of [...offer.ranges].sort((a, b) => a - b)) select.add(new Option(engineering(range, "V"), String(range)));
    select.add(new Option("auto", "auto"));
  }
  // The lists of choices come from the card's settings table.
  for (const setting of offer.settings) {
    if (setting.kind !== "choice") continue;
    const select = document.querySelector(`select[data-setting="${setting.key}"]`);
    if (!select || select.dataset.setting === "trigger.source") continue;
    for (const choice of setting.choices) select.add(new Option(choice.name, choice.name));
  }
  const source = document.querySelector('[data-setting="trigger.source"]');
  for (const s of offer.triggerSources) {
    const option = new Option(s.label, s.name);
    option.disabled = !s.offered;
    source.add(option);
  }
  const kinds = document.getElementById("source-kinds");
  for (const kind of offer.sourceKinds) kinds.appendChild(new Option(kind + ":1:1000:0", kind + ":1:1000:0"));
  document.querySelector('[data-setting="samples"]').max = offer.maxSamples;
  document.getElementById("generator").hidden = !offer.generator.present;

  document.getElementById("controls").addEventListener("change", (event) => {
    const control = event.target.closest("[data-setting]");
    if (control) sendSettings(patchFor(control.dataset.setting, controlValue(control)));
  });
  for (const button of document.querySelectorAll("[data-acquisition]"))
    button.addEventListener("click", () => sendSettings({ acquisition: button.dataset.acquisition }));
  for (const link of document.querySelectorAll("a[download]")) {
    const extension = link.getAttribute("href").split(".").pop();
    link.addEventListener("click", () => { link.download = `${downloadName()}.${extension}`; });
  }
}

// ---- Drawing -------------------------------------------------------------

// The canvas at the screen's pixel density: its drawing buffer follows its
// size on the page.
function fitCanvas(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  return { ratio, width, height };
}

function geometry(canvas) {
  const { ratio, width, height } = fitCanvas(canvas);
  const margin = { left: 64 * ratio, right: 64 * ratio, top: 14 * ratio, bottom: 30 * ratio };
  return {
    ratio, width, height, margin,
    plotWidth: width - margin.left - margin.right,
    plotHeight: height - margin.top - margin.bottom,
  };
}

// The vertical position of a value on a channel's scale (its range spans the
// plot's height).
function yOf(g, volts, range) {
  return g.margin.top + g.plotHeight * (0.5 - volts / (2 * range));
}

// Sample i at the start of its interval: the plot spans the part of the
// record shown.
function xOf(g, index, samples) {
  const { start, end } = scope.view;
  return g.margin.left + ((index / Math.max(1, samples) - start) / (end - start)) * g.plotWidth;
}

// The samples the plot shows: [first, last).
function shownSamples(samples) {
  return [Math.max(0, Math.floor(scope.view.start * samples)), Math.min(samples, Math.ceil(scope.view.end * samples))];
}

// The 1-2-5 time per division that gives the record 5 to 10 divisions.
function timeDivision(span) {
  const decade = Math.pow(10, Math.floor(Math.log10(span / 10)));
  for (const factor of [1, 2, 5, 10]) {
    if (span / (factor * decade) <= 10) return factor * decade;
  }
  return 10 * decade;
}

function drawGrid(context, g, frame) {
  // Time divisions in 1-2-5 steps, one line through the trigger instant (0).
  const start = (scope.view.start * frame.samples - frame.triggerIndex) / frame.rate;
  const span = ((scope.view.end - scope.view.start) * frame.samples) / frame.rate;
  const step = timeDivision(span);
  const xOfTime = (t) => g.margin.left + ((t - start) / span) * g.plotWidth;
  const first = Math.ceil(start / step - 1e-9);
  const last = Math.floor((start + span) / step + 1e-9);

  context.strokeStyle = "#2a3038";
  context.lineWidth = g.ratio;
  context.beginPath();
  for (let n = first; n <= last; n++) {
    const x = xOfTime(n * step);
    context.moveTo(x, g.margin.top);
    context.lineTo(x, g.margin.top + g.plotHeight);
  }
  for (let i = 0; i <= DIVISIONS_Y; i++) {
    const y = g.margin.top + (i / DIVISIONS_Y) * g.plotHeight;
    context.moveTo(g.margin.left, y);
    context.lineTo(g.margin.left + g.plotWidth, y);
  }
  context.stroke();

  // Time axis: 0 at the trigger; every other division labelled, counted from 0.
  context.font = `${11 * g.ratio}px "DejaVu Sans", sans-serif`;
  context.fillStyle = "#8a939e";
  context.textAlign = "center";
  context.textBaseline = "top";
  for (let n = first; n <= last; n++) {
    if (n % 2 !== 0) continue;
    context.fillText(engineering(n === 0 ? 0 : n * step, "s"), xOfTime(n * step),
                     g.margin.top + g.plotHeight + 6 * g.ratio);
  }
  // Volt axes: CH1 on the left, CH2 on the right, each in its own range.
  context.textBaseline = "middle";
  frame.channels.forEach((channel) => {
    const left = channel.name === "CH1";
    context.fillStyle = COLOURS[channel.name];
    context.textAlign = left ? "right" : "left";
    const x = left ? g.margin.left - 6 * g.ratio : g.margin.left + g.plotWidth + 16 * g.ratio;
    for (let i = 0; i <= DIVISIONS_Y; i += 2) {
      const volts = channel.range * (1 - (2 * i) / DIVISIONS_Y);
      context.fillText(engineering(volts, "V"), x, g.margin.top + (i / DIVISIONS_Y) * g.plotHeight);
    }
  });
}

// Positions that hold no sample, shaded.
function drawEmpty(context, g, frame) {
  context.fillStyle = "rgba(140, 150, 165, 0.18)";
  const shade = (from, to) => {
    if (to <= from) return;
    const x0 = xOf(g, from, frame.samples), x1 = xOf(g, to, frame.samples);
    context.fillRect(x0, g.margin.top, Math.max(g.ratio, x1 - x0), g.plotHeight);
  };
  for (const channel of frame.channels) {
    const [first, count] = channel.held;
    shade(0, count === 0 ? frame.samples : first);
    if (count > 0) shade(first + count, frame.samples);
  }
}

// One trace; with more samples than pixels, each pixel column shows the
// lowest and highest sample it covers.
function drawTrace(context, g, frame, channel) {
  const volts = channel.volts;
  const samples = volts.length;
  const [first, last] = shownSamples(samples);
  context.strokeStyle = COLOURS[channel.name];
  context.lineWidth = 1.5 * g.ratio;
  context.beginPath();
  let drawing = false;
  const columns = Math.max(1, Math.floor(g.plotWidth));
  if (last - first > 2 * columns) {
    const shown = last - first;
    for (let c = 0; c < columns; c++) {
      const from = first + Math.floor((c * shown) / columns), to = first + Math.floor(((c + 1) * shown) / columns);
      let low = Infinity, high = -Infinity;
      for (let i = from; i < to; i++) {
        const v = volts[i];
        if (v === null) continue;
        if (v < low) low = v;
        if (v > high) high = v;
      }
      if (low === Infinity) { drawing = false; continue; }
      const x = g.margin.left + (c / columns) * g.plotWidth;
      const yLow = yOf(g, low, channel.range), yHigh = yOf(g, high, channel.range);
      if (drawing) context.lineTo(x, yHigh); else context.moveTo(x, yHigh);
      context.lineTo(x, yLow);
      drawing = true;
    }
  } else {
    // One sample either side, so the line runs to the plot's edges.
    for (let i = Math.max(0, first - 1); i < Math.min(samples, last + 1); i++) {
      const v = volts[i];
      if (v === null) { drawing = false; continue; }
      const x = xOf(g, i, samples), y = yOf(g, v, channel.range);
      if (drawing) context.lineTo(x, y); else context.moveTo(x, y);
      drawing = true;
    }
  }
  context.stroke();
}

function triggerChannel(frame) {
  return frame.channels.find((channel) => channel.name === frame.triggerChannel);
}

function drawTrigger(context, g, frame) {
  const x = xOf(g, frame.triggerIndex, frame.samples);
  // Zoomed away from the trigger instant: no line, no mark for it.
  const instantShown = x >= g.margin.left - 0.5 && x <= g.margin.left + g.plotWidth + 0.5;
  context.strokeStyle = "rgba(255, 255, 255, 0.55)";
  context.setLineDash([6 * g.ratio, 4 * g.ratio]);
  context.lineWidth = g.ratio;
  if (instantShown) {
    context.beginPath();
    context.moveTo(x, g.margin.top);
    context.lineTo(x, g.margin.top + g.plotHeight);
    context.stroke();
  }
  const channel = triggerChannel(frame);
  const level = scope.drag !== null ? scope.drag : frame.triggerLevel;
  if (channel && level !== null) {
    const y = yOf(g, level, channel.range);
    context.strokeStyle = COLOURS[channel.name];
    context.beginPath();
    context.moveTo(g.margin.left, y);
    context.lineTo(g.margin.left + g.plotWidth, y);
    context.stroke();
    // The handle to drag the level by.
    context.setLineDash([]);
    context.fillStyle = COLOURS[channel.name];
    context.beginPath();
    const edge = g.margin.left + g.plotWidth;
    context.moveTo(edge, y);
    context.lineTo(edge + 12 * g.ratio, y - 7 * g.ratio);
    context.lineTo(edge + 12 * g.ratio, y + 7 * g.ratio);
    context.closePath();
    context.fill();
    context.fillStyle = "#000";
    context.font = `bold ${9 * g.ratio}px "DejaVu Sans", sans-serif`;
    context.textAlign = "center";
    context.fillText("T", edge + 8 * g.ratio, y);
  }
  context.setLineDash([]);
  // The trigger instant, marked on the time axis.
  if (!instantShown) return;
  context.fillStyle = "#fff";
  context.beginPath();
  context.moveTo(x - 6 * g.ratio, g.margin.top);
  context.lineTo(x + 6 * g.ratio, g.margin.top);
  context.lineTo(x, g.margin.top + 8 * g.ratio);
  context.closePath();
  context.fill();
}

function drawBadges(context, g, frame) {
  context.font = `bold ${12 * g.ratio}px "DejaVu Sans", sans-serif`;
  context.textAlign = "left";
  context.textBaseline = "top";
  let x = g.margin.left + 8 * g.ratio;
  for (const channel of frame.channels) {
    let text = `${channel.name} ±${engineering(channel.range, "V")}`;
    if (channel.overrange) text += "  OVERRANGE";
    context.fillStyle = channel.overrange ? "#ff6b5e" : COLOURS[channel.name];
    context.fillText(text, x, g.margin.top + 6 * g.ratio);
    x += context.measureText(text).width + 18 * g.ratio;
  }
  context.fillStyle = "#8a939e";
  const perDivision = engineering(timeDivision(((scope.view.end - scope.view.start) * frame.samples) / frame.rate), "s");
  context.fillText(`${engineering(frame.rate, "Hz")}, ${frame.samples} samples, ${perDivision}/div`, x,
                   g.margin.top + 6 * g.ratio);
}

function draw() {
  scope.drawPending = false;
  const frame = scope.frame;
  const canvas = document.getElementById("trace");
  const context = canvas.getContext("2d");
  const g = geometry(canvas);
  context.clearRect(0, 0, g.width, g.height);
  if (!frame) return;
  drawGrid(context, g, frame);
  context.save();
  context.beginPath();
  context.rect(g.margin.left, g.margin.top, g.plotWidth, g.plotHeight);
  context.clip();
  drawEmpty(context, g, frame);
  for (const channel of frame.channels) drawTrace(context, g, frame, channel);
  context.restore();
  drawTrigger(context, g, frame);
  if (typeof traceViewDraw === "function") traceViewDraw(context, g, frame);
  drawBadges(context, g, frame);
  showFigures(frame);

  scope.framesDrawn += 1;
  document.body.dataset.frames = String(scope.framesDrawn);
  document.body.dataset.shownSequence = String(frame.sequence);
  const now = performance.now();
  scope.drawTimes.push(now);
  while (scope.drawTimes.length > 1 && now - scope.drawTimes[0] > 2000) scope.drawTimes.shift();
  if (scope.drawTimes.length > 1) {
    const perSecond = (scope.drawTimes.length - 1) / ((now - scope.drawTimes[0]) / 1000);
    document.getElementById("rate-shown").textContent = perSecond.toFixed(0) + " records/s";
  }
}

function showFigures(frame) {
  for (const name of ["ch1", "ch2"]) {
    const channel = frame.channels.find((c) => c.name === name.toUpperCase());
    const figures = channel ? channel.figures : {};
    const units = { frequency: "Hz", peakToPeak: "V", rms: "V", mean: "V" };
    for (const [key, unit] of Object.entries(units)) {
      const cell = document.getElementById(`${name}-${key}`);
      const value = channel ? figures[key] : null;
      // The frequency to the digits its uncertainty supports, as in the panel.
      const text = key === "frequency" && value !== null && value !== undefined ? panelFrequency(figures)
                                                                                : engineering(value, unit);
      cell.textContent = channel ? text : "off";
      cell.dataset.value = value === null || value === undefined ? "" : String(value);
    }
    document.getElementById(`${name}-held`).textContent = channel ? `${channel.held[1]} of ${channel.volts.length}` : "";
  }
  const taken = document.getElementById("taken");
  taken.textContent = frame.taken ? `record ${frame.sequence}: ${frame.taken}` : "";
  taken.dataset.how = String(frame.how);
}

// What the card does while a slow record is taken; the last record stays on
// screen meanwhile.
function showRun(run) {
  const shown = document.getElementById("run-shown");
  const seconds = (s) => (Math.round(s * 10) / 10).toFixed(1);
  if (!run) shown.textContent = "";
  else if (run.phase === "waiting") shown.textContent = `waiting for trigger: ${seconds(run.seconds)} s`;
  else shown.textContent = `acquiring: ${seconds(Math.min(run.seconds, run.runSeconds))} of ${seconds(run.runSeconds)} s`;
  shown.dataset.phase = run ? run.phase : "";
}

function scheduleDraw() {
  if (!scope.drawPending) {
    scope.drawPending = true;
    requestAnimationFrame(draw);
  }
}

// ---- The trigger level, dragged on the canvas ----------------------------

function levelAt(event) {
  const frame = scope.frame;
  const channel = frame && triggerChannel(frame);
  if (!channel) return null;
  const canvas = document.getElementById("trace");
  const g = geometry(canvas);
  const y = (event.clientY - canvas.getBoundingClientRect().top) * g.ratio;
  const volts = (0.5 - (y - g.margin.top) / g.plotHeight) * 2 * channel.range;
  const step = channel.range / 128; // the card sets the level in these steps
  return Math.max(-channel.range, Math.min(channel.range, Math.round(volts / step) * step));
}

function setUpDragging() {
  const canvas = document.getElementById("trace");
  canvas.addEventListener("pointerdown", (event) => {
    const frame = scope.frame;
    const channel = frame && triggerChannel(frame);
    if (!channel || frame.triggerLevel === null) return;
    const g = geometry(canvas);
    const y = (event.clientY - canvas.getBoundingClientRect().top) * g.ratio;
    if (Math.abs(y - yOf(g, frame.triggerLevel, channel.range)) > 8 * g.ratio) return;
    scope.drag = frame.triggerLevel;
    canvas.setPointerCapture(event.pointerId);
  });
  canvas.addEventListener("pointermove", (event) => {
    canvas.style.cursor = scope.drag !== null ? "ns-resize" : "";
    if (scope.drag === null) return;
    const level = levelAt(event);
    if (level !== null) scope.drag = level;
    scheduleDraw();
  });
  canvas.addEventListener("pointerup", () => {
    if (scope.drag === null) return;
    const level = scope.drag;
    scope.drag = null;
    sendSettings({ trigger: { level } });
  });
}

// ---- Start -----------------------------------------------------------------

// Fetches the settings once per change of their version.
async function followSettings() {
  if (scope.following) return;
  scope.following = true;
  try {
    const state = await getJson("/api/settings");
    showRun(state.settings.acquisition === "stop" ? null : state.run);
    // A single record ends in Stop without a new version: the buttons follow too.
    if (!scope.state || state.version !== scope.state.version ||
        state.settings.acquisition !== scope.state.settings.acquisition) showSettings(state);
    // No record drawn for two seconds: none are coming.
    if (scope.drawTimes.length === 0 || performance.now() - scope.drawTimes[scope.drawTimes.length - 1] > 2000)
      document.getElementById("rate-shown").textContent = "0 records/s";
  } catch (error) {
    setStatus("the scope does not answer: " + error.message);
  } finally {
    scope.following = false;
  }
}

function listen() {
  const events = new EventSource("/api/stream");
  events.onmessage = (message) => {
    scope.frame = JSON.parse(message.data);
    showRun(null); // the run it waited for is over
    // Another page or a script changed the settings: the controls follow.
    if (scope.state && scope.frame.settingsVersion !== scope.state.version) followSettings();
    scheduleDraw();
  };
  events.onerror = () => setStatus("the stream stopped; reconnecting…");
  events.onopen = () => {
    if (document.getElementById("status").textContent.startsWith("the stream")) setStatus("");
  };
}

async function start() {
  try {
    scope.offer = await getJson("/api/offer");
    buildControls();
    showSettings(await getJson("/api/settings"));
  } catch (error) {
    setStatus("cannot reach the scope: " + error.message);
    return;
  }
  setUpDragging();
  window.addEventListener("resize", scheduleDraw);
  // Stopped, no frames tell of new settings: ask now and then (and follow a
  // slow record's progress).
  setInterval(followSettings, 250);
  listen();
}

start();
