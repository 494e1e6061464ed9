// The Record control: every record the card takes, written on the server
// into the directory the scope was started with (--record-dir), with its
// progress and the finished files to download. Hidden when the scope
// records nowhere.
import { fetchJson, postJson } from "./state.js";

const ACTIVE_POLL_MS = 500;
const IDLE_POLL_MS = 3000;

function megabytes(bytes) {
  return (bytes / 1e6).toFixed(1) + " MB";
}

function progressText(r) {
  const counted = `${r.records} records, ${megabytes(r.bytes)}, ${r.lost} lost`;
  if (r.active) return `recording ${r.name || ""}: ${counted}, ${r.seconds.toFixed(1)} s`;
  if (r.ended) return `${r.name ? r.name + ": " : ""}${counted}; ${r.ended}`;
  return "";
}

function showFiles(list, files) {
  list.replaceChildren(...files.map((file) => {
    const item = document.createElement("li");
    const link = document.createElement("a");
    link.href = "/api/recordings/" + encodeURIComponent(file.name);
    link.download = file.name;
    link.textContent = file.name;
    item.append(link, ` ${megabytes(file.bytes)}`);
    return item;
  }));
}

// The request from the form: only the limits filled in are sent.
function request() {
  const body = { name: document.getElementById("record-name").value.trim() };
  const count = document.getElementById("record-count").value.trim();
  const duration = document.getElementById("record-duration").value.trim();
  const size = document.getElementById("record-size").value.trim();
  if (count) body.count = Number(count);
  if (duration) body.duration = /^[0-9.]+$/.test(duration) ? Number(duration) : duration;
  if (size) body.maxSize = /^[0-9]+$/.test(size) ? Number(size) : size;
  return body;
}

export function attachRecording() {
  const section = document.getElementById("record-section");
  const progress = document.getElementById("record-progress");
  const files = document.getElementById("record-files");
  const start = document.getElementById("record-start");
  const stop = document.getElementById("record-stop");
  let timer = null;
  // A refused start or stop stays said until the next click: the polls
  // that follow would otherwise replace it at once.
  let refusal = "";

  const show = (r) => {
    section.hidden = false;
    section.dataset.active = String(r.active);
    start.disabled = r.active;
    stop.disabled = !r.active;
    progress.textContent = refusal || progressText(r);
    showFiles(files, r.files);
  };
  const poll = async () => {
    clearTimeout(timer);
    let active = false;
    try {
      const { ok, status, answer } = await fetchJson("/api/recording");
      if (status === 404) return; // the scope records nowhere: no control, no more polls
      if (!ok) throw new Error(answer.error || `HTTP ${status}`);
      active = answer.active;
      show(answer);
    } catch (error) {
      progress.textContent = "the scope does not answer: " + error.message;
    }
    timer = setTimeout(poll, active ? ACTIVE_POLL_MS : IDLE_POLL_MS);
  };
  const send = async (path, body) => {
    try {
      const { ok, answer } = await postJson(path, body);
      refusal = ok ? "" : answer.error;
      if (!ok) progress.textContent = refusal;
      else show(answer);
    } catch (error) {
      progress.textContent = "the scope does not answer: " + error.message;
    }
    poll();
  };
  start.addEventListener("click", () => send("/api/recording/start", request()));
  stop.addEventListener("click", () => send("/api/recording/stop", {}));
  poll();
}
