// What the page knows of the scope: the card's offer, its settings (with the
// values it reached and its run phase), the newest record. Views subscribe
// to its events; nothing else talks to the server.
//   "frame"    a new record (one event per record the stream brings)
//   "settings" the settings changed (this page, another client, a refusal)
//   "run"      what the card does while a slow record is taken
//   "status"   a line for the person: a refusal, an adjusted value, a lost stream
// While a kept record is shown (showKept), the stream's records are not shown
// until resumeLive.

export const state = {
  offer: null,
  settings: null, // the answer of /api/settings: {settings, version, reached, run}
  frame: null,
};

const events = new EventTarget();

export function on(name, handler) {
  events.addEventListener(name, (event) => handler(event.detail));
}

function emit(name, detail) {
  events.dispatchEvent(new CustomEvent(name, { detail }));
}

export function say(text) {
  emit("status", text);
}

async function getJson(path) {
  const response = await fetch(path, { cache: "no-store" });
  if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
  return response.json();
}

// GETs JSON; the answer is JSON whatever the status.
export async function fetchJson(path) {
  const response = await fetch(path, { cache: "no-store" });
  return { ok: response.ok, status: response.status, answer: await response.json() };
}

// POSTs JSON; the answer is JSON whatever the status.
export async function postJson(path, body) {
  const response = await fetch(path, {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body),
  });
  return { ok: response.ok, status: response.status, answer: await response.json() };
}

// A refusal already names the call, the result and its meaning.
function refusalText(status, answer) {
  const error = answer.error || "";
  if (!answer.result || error.includes(answer.result)) return error;
  return `${answer.result || "HTTP " + status}: ${answer.meaning || ""} — ${error}`;
}

export function showSettings(answer) {
  state.settings = answer;
  emit("settings", answer);
}

// Sends a change; the card's answer becomes the settings shown. `adjusted`
// turns the card's list of values it runs other than asked into a line.
export async function sendSettings(patch, adjusted) {
  let reply;
  try {
    reply = await postJson("/api/settings", patch);
  } catch (error) {
    say("the scope does not answer: " + error.message);
    return false;
  }
  if (!reply.ok) {
    say(refusalText(reply.status, reply.answer));
    emit("settings", state.settings); // the card kept its settings: so do the controls
    return false;
  }
  say(adjusted ? adjusted(reply.answer.adjusted || []) : "");
  showSettings(reply.answer);
  return true;
}

// Fetches the settings and follows a change of their version or of the run.
let following = false;
async function followSettings() {
  if (following) return;
  following = true;
  try {
    const answer = await getJson("/api/settings");
    emit("run", answer.settings.acquisition === "stop" ? null : answer.run);
    // A single record ends in Stop without a new version: the buttons follow too.
    const known = state.settings;
    if (!known || answer.version !== known.version || answer.settings.acquisition !== known.settings.acquisition)
      showSettings(answer);
  } catch (error) {
    say("the scope does not answer: " + error.message);
  } finally {
    following = false;
  }
}

// The records the scope keeps (--history N): the list without samples, and one of them whole.
export function keptRecords() {
  return getJson("/api/history");
}

export function keptRecord(sequence) {
  return getJson(`/api/history/record?sequence=${sequence}`);
}

let newest = null; // the stream's last record
let holding = false; // a kept record is shown instead

export function showKept(frame) {
  holding = true;
  state.frame = frame;
  emit("frame", frame);
}

export function resumeLive() {
  holding = false;
  if (newest) {
    state.frame = newest;
    emit("frame", newest);
  }
}

function listen() {
  const stream = new EventSource("/api/stream");
  let lost = false;
  stream.onmessage = (message) => {
    newest = JSON.parse(message.data);
    emit("run", null); // the run it waited for is over
    // Another page or a script changed the settings: follow them.
    if (state.settings && newest.settingsVersion !== state.settings.version) followSettings();
    if (holding) return;
    state.frame = newest;
    emit("frame", state.frame);
  };
  stream.onerror = () => {
    lost = true;
    say("the stream stopped; reconnecting…");
  };
  stream.onopen = () => {
    if (lost) say("");
    lost = false;
  };
}

// The offer and the settings first, then the stream. Stopped, no records
// tell of new settings: they are asked for now and then (which also follows
// a slow record's progress).
export async function start() {
  try {
    state.offer = await getJson("/api/offer");
    emit("offer", state.offer);
    showSettings(await getJson("/api/settings"));
  } catch (error) {
    say("cannot reach the scope: " + error.message);
    return;
  }
  setInterval(followSettings, 250);
  listen();
}
