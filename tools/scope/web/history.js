// Stepping back through the records the scope keeps (--history N): older,
// newer and live, with the shown record's sequence number, the time it was
// taken and how it was triggered. The downloads follow the record shown.
import { keptRecord, keptRecords, on, resumeLive, say, showKept, state } from "./state.js";

// "12:04:31.250" in the browser's time zone.
function clockTime(seconds) {
  const d = new Date(seconds * 1000);
  const pad = (n, width = 2) => String(n).padStart(width, "0");
  return `${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}.${pad(d.getMilliseconds(), 3)}`;
}

function button(text, title) {
  const b = document.createElement("button");
  b.type = "button";
  b.textContent = text;
  b.title = title;
  return b;
}

export function attachHistory(parent) {
  const box = document.createElement("span");
  box.id = "history";
  box.hidden = true; // until the scope says it keeps records
  const older = button("◀", "the kept record before the one shown");
  const newer = button("▶", "the kept record after the one shown (after the newest: live)");
  const live = button("live", "show each new record again");
  older.id = "history-older";
  newer.id = "history-newer";
  live.id = "history-live";
  const shown = document.createElement("span");
  shown.id = "history-shown";
  box.append(older, newer, live, shown);
  parent.append(box);

  let kept = null; // the sequence number of the kept record shown; null: live
  const show = (frame, entry, list) => {
    const span = list.length ? ` of ${list[0].sequence}–${list[list.length - 1].sequence}` : "";
    shown.textContent = entry ? `record ${entry.sequence}${span} · ${clockTime(entry.hostTime)} · ${entry.status}` : "";
    box.dataset.sequence = entry ? String(entry.sequence) : "";
    live.classList.toggle("active", !entry);
    for (const link of document.querySelectorAll("a[download]")) {
      const path = link.getAttribute("href").split("?")[0];
      link.setAttribute("href", entry ? `${path}?sequence=${entry.sequence}` : path);
    }
  };

  // To the kept record before (-1) or after (+1) the one shown.
  const step = async (direction) => {
    try {
      const list = (await keptRecords()).records;
      // From live, the record on screen is where the steps start.
      const current = kept ?? (state.frame ? state.frame.sequence : Infinity);
      const entry = direction < 0 ? list.filter((r) => r.sequence < current).pop()
                                  : list.find((r) => r.sequence > current);
      if (!entry) {
        if (direction > 0) return goLive();
        return say(list.length ? "no older record is kept" : "no record is kept yet");
      }
      const frame = await keptRecord(entry.sequence);
      kept = entry.sequence;
      showKept(frame);
      show(frame, entry, list);
      say("");
    } catch (error) {
      say(`the kept record is gone (${error.message}): step again`);
    }
  };
  const goLive = () => {
    kept = null;
    show(null, null, []);
    resumeLive();
  };
  // Clicks in quick succession step one after another, each from where the one before ended.
  let queue = Promise.resolve();
  const later = (action) => () => { queue = queue.then(action); };
  older.addEventListener("click", later(() => step(-1)));
  newer.addEventListener("click", later(() => step(+1)));
  live.addEventListener("click", later(goLive));
  live.classList.add("active");

  on("offer", async () => {
    try {
      const history = await keptRecords();
      box.hidden = history.capacity === 0;
      box.title = `the last ${history.capacity} records are kept`;
    } catch (error) {
      box.hidden = true;
    }
  });
}
